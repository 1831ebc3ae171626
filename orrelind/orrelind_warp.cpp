// The geometry of the Orrelind warp and its map: which pixels of each row
// lie inside the circle, where each of them fetches its colour from, and
// when those source points can be taken from the map rather than worked out
// again.
//
// The source point of a pixel depends only on the frame size and the five
// stored parameter values. Hosts mostly hold the values still (MLT sets
// every one before every frame, to the same value), so the second update
// with the same values writes the source points into the map as it
// computes them, and the following updates only resample. A host that
// moves a value on every frame never touches the map.
#include <cmath>
#include <cstring>

#include "orrelind.h"
#include "orrelind_dispatch.h"

namespace {

// The doubles nearest to 8 pi and -4 pi: Whirl 0..1 becomes -4 pi..+4 pi
// with 0.5 landing on exactly 0.
constexpr double orrelind_whirl_scale = 25.132741228718345;
constexpr double orrelind_whirl_offset = -12.566370614359172;

// The normalised distance from the centre of pixel column x in a row whose
// squared vertical offset is dy2. Every decision about which pixels are
// warped goes through this one expression, so the runs copied as blocks and
// the pixels warped one by one can never disagree.
inline double orrelind_distance(const orrelind_geometry& g, uint32_t x, double dy2) {
  const double dx = double(x) - g.cx;
  return std::sqrt(dx * dx + dy2) * g.inv_radius;
}

inline bool orrelind_inside(const orrelind_geometry& g, uint32_t x, double dy2) {
  return orrelind_distance(g, x, dy2) < 1.0;
}

// Finds the columns of one row that lie strictly inside the circle. The
// distance never decreases away from the column nearest the centre, so they
// form one run [*first, *last]; returns false when the row has none. The
// geometric estimate only seeds the search; the exact test decides.
bool orrelind_row_span(const orrelind_geometry& g, double dy2, uint32_t* first, uint32_t* last) {
  uint32_t closest = uint32_t(g.cx + 0.5);
  if (closest > g.width - 1) closest = g.width - 1;
  if (!orrelind_inside(g, closest, dy2)) return false;

  const double chord2 = g.radius * g.radius - dy2;
  const double half = chord2 > 0.0 ? std::sqrt(chord2) : 0.0;

  const double left = std::ceil(g.cx - half);
  uint32_t a = left > 0.0 ? (left < double(closest) ? uint32_t(left) : closest) : 0;
  while (a > 0 && orrelind_inside(g, a - 1, dy2)) --a;
  while (!orrelind_inside(g, a, dy2)) ++a;

  const double right = std::floor(g.cx + half);
  uint32_t b =
      right < g.max_x ? (right > double(closest) ? uint32_t(right) : closest) : g.width - 1;
  while (b < g.width - 1 && orrelind_inside(g, b + 1, dy2)) ++b;
  while (!orrelind_inside(g, b, dy2)) --b;

  *first = a;
  *last = b;
  return true;
}

// Sine and cosine of one angle. glibc's sincos gives the very bits of its
// separate sin and cos (the tests prove it over the angles the warp meets)
// at a good deal less than their cost; other libraries promise no such
// thing, so they are asked for the two.
inline void orrelind_sin_cos(double angle, double* s, double* c) {
#if defined(__GLIBC__)
  ::sincos(angle, s, c);
#else
  *s = std::sin(angle);
  *c = std::cos(angle);
#endif
}

// Source points are worked out in batches of up to 128 pixels from one row,
// in passes: up to atan2, then sine and cosine. Inside a pass no pixel waits
// for another, so the processor overlaps consecutive library calls.
constexpr uint32_t orrelind_batch = 128;

// The source points of pixels x .. x + n - 1 of the row with offset dy from
// the centre, all inside the circle, into sx[0..n) and sy[0..n), by the C
// library: the judge that every other way of working them out answers to.
// Returns the position in the batch of the pixel on the centre, which keeps
// its value (its source point is set to itself, a harmless place to read),
// or n.
uint32_t orrelind_source_points(const orrelind_geometry& g, const uint32_t* src, uint32_t y,
                                double dy, double dy2, uint32_t x, uint32_t n, double* sx,
                                double* sy) {
  double theta[orrelind_batch], rho[orrelind_batch];
  uint32_t kept = n;
  for (uint32_t i = 0; i < n; ++i) {
    const double r = orrelind_distance(g, x + i, dy2);
    if (r < orrelind_neutral_epsilon) {
      kept = i;
      theta[i] = 0.0;
      rho[i] = 0.0;
      continue;
    }
    const double dx = double(x + i) - g.cx;
    const double t = 1.0 - r;
    const double t2 = t * t;
    theta[i] = std::atan2(dy, dx) + t2 * g.whirl;
    double d = (t2 * g.pinch + 1.0) * r;
    if (!(d > 0.0)) d = 0.0;
    rho[i] = d * g.radius;
  }
  for (uint32_t i = 0; i < n; ++i) {
    double s, c;
    orrelind_sin_cos(theta[i], &s, &c);
    double px = c * rho[i] + g.cx;
    double py = s * rho[i] + g.cy;
    if (!(px > 0.0)) px = 0.0;
    if (g.max_x < px) px = g.max_x;
    if (!(py > 0.0)) py = 0.0;
    if (g.max_y < py) py = g.max_y;
    sx[i] = px;
    sy[i] = py;
    // The rows the resampling will read, requested while the remaining
    // sines and cosines are computed.
    const uint32_t row = uint32_t(py);
    const uint32_t* at = src + (uint64_t(row) * g.width + uint32_t(px));
    __builtin_prefetch(at);
    __builtin_prefetch(at + (row + 1 < g.height ? g.width : 0));
  }
  if (kept < n) {
    sx[kept] = double(x + kept);
    sy[kept] = double(y);
  }
  return kept;
}

// Copies the source rows that the warp can read into scratch, for an update
// whose input and output are one frame. A source point lies no farther from
// the centre than the warp radius (up to rounding, covered by the margin),
// and its right and lower neighbours one pixel beyond.
void orrelind_save_source(const orrelind_instance* inst, const uint32_t* frame,
                          const orrelind_geometry& g) {
  const uint32_t w = inst->frame_width, h = inst->frame_height;
  auto lower = [](double centre, double r) -> uint32_t {
    const double v = std::floor(centre - r) - 2.0;
    return v > 0.0 ? uint32_t(v) : 0;
  };
  auto upper = [](double centre, double r, uint32_t size) -> uint32_t {
    const double v = std::floor(centre + r) + 3.0;
    return v < double(size - 1) ? uint32_t(v) : size - 1;
  };
  const uint32_t x_lo = lower(g.cx, g.radius), x_hi = upper(g.cx, g.radius, w);
  const uint32_t y_lo = lower(g.cy, g.radius), y_hi = upper(g.cy, g.radius, h);
  if (x_lo == 0 && x_hi == w - 1) {
    const uint64_t start = uint64_t(y_lo) * w;
    std::memcpy(inst->scratch + start, frame + start,
                (uint64_t(y_hi - y_lo) + 1) * w * sizeof(uint32_t));
    return;
  }
  const size_t run = (size_t(x_hi) - x_lo + 1) * sizeof(uint32_t);
  for (uint32_t y = y_lo; y <= y_hi; ++y) {
    const uint64_t start = uint64_t(y) * w + x_lo;
    std::memcpy(inst->scratch + start, frame + start, run);
  }
}

// Warps pixels first .. first + run - 1 of row y into dst with source points
// worked out in vectors; every pixel whose point or bytes the bounds cannot
// prove to be the C library's is done again by the scalar path. Returns the
// index in the run of the pixel on the centre, or run.
uint32_t orrelind_warp_run_moving(const orrelind_moving_kernels& k, orrelind_resample_fn resample,
                                  const orrelind_geometry& g, const orrelind_source_frame& src,
                                  uint32_t y, double dy, double dy2, uint32_t first, uint32_t run,
                                  const orrelind_byte_margins& byte_margins, uint32_t* dst) {
  alignas(64) double sx[orrelind_points_batch + orrelind_points_lanes];
  alignas(64) double sy[orrelind_points_batch + orrelind_points_lanes];
  uint64_t doubt[orrelind_points_batch / 64];
  uint32_t kept = run;
  for (uint32_t i = 0; i < run;) {
    const uint32_t n = run - i < orrelind_points_batch ? run - i : uint32_t(orrelind_points_batch);
    k.source_points(g, dy, dy2, first + i, n, sx, sy, doubt);
    k.resample_checked(src, sx, sy, n, dst + i, byte_margins, doubt);
    for (uint32_t w = 0; w * 64 < n; ++w)
      for (uint64_t bits = doubt[w]; bits; bits &= bits - 1) {
        const uint32_t j = w * 64 + uint32_t(__builtin_ctzll(bits));
        if (j >= n) break;
        double px, py;
        if (orrelind_source_points(g, src.pixels, y, dy, dy2, first + i + j, 1, &px, &py) == 0)
          kept = i + j;
        resample(src, &px, &py, 1, dst + i + j);
      }
    i += n;
  }
  return kept;
}

}  // namespace

void orrelind_update(orrelind_instance* inst, const uint32_t* inframe, uint32_t* outframe) {
  const bool same_frame = inframe == outframe;
  const uint32_t width = inst->frame_width, height = inst->frame_height;
  const size_t frame_bytes = size_t(inst->pixel_count) * sizeof(uint32_t);
  const double* params = inst->params;

  const double radius = double(width < height ? width : height) * params[ORRELIND_RADIUS];
  const double whirl = params[ORRELIND_WHIRL] * orrelind_whirl_scale + orrelind_whirl_offset;
  const double pinch = params[ORRELIND_PINCH] * 2.0 + (-1.0);
  if (radius < 0.5 || (std::fabs(whirl) < orrelind_neutral_epsilon &&
                       std::fabs(pinch) < orrelind_neutral_epsilon)) {
    // The output is the input; a shared frame already holds it.
    if (!same_frame) std::memmove(outframe, inframe, frame_bytes);
    return;
  }

  orrelind_geometry g;
  g.width = width;
  g.height = height;
  g.radius = radius;
  g.inv_radius = 1.0 / radius;
  g.whirl = whirl;
  g.pinch = pinch;
  g.cx = double(width - 1) * params[ORRELIND_CENTER_X];
  g.cy = double(height - 1) * params[ORRELIND_CENTER_Y];
  g.max_x = double(width - 1);
  g.max_y = double(height - 1);
  g.point_margin = 0.0;

  orrelind_source_frame src{inframe, width, height};
  if (same_frame) {
    orrelind_save_source(inst, inframe, g);
    src.pixels = inst->scratch;
  }
  // The kernels for this frame size, from the set chosen at load: the
  // kernels for values that move only where the set has them and the frame
  // is one that `resample` takes.
  const orrelind_kernel_set& kernels = orrelind_kernels();
  const bool narrow = orrelind_narrow_frame(width, inst->pixel_count);
  const orrelind_resample_fn resample = narrow ? kernels.resample : kernels.resample_any_size;
  const orrelind_moving_kernels* const moving = narrow ? kernels.moving : nullptr;

  // With a map: reuse it if it was built from these very values; else
  // rebuild it in this pass if the last update had these values too.
  // Otherwise source points go through a batch on the stack.
  const size_t param_bytes = sizeof inst->map_params;
  const bool reuse =
      inst->map && inst->map_ready && std::memcmp(inst->map_params, params, param_bytes) == 0;
  const bool build =
      inst->map && !reuse && std::memcmp(inst->last_params, params, param_bytes) == 0;
  std::memcpy(inst->last_params, params, param_bytes);
  if (build) inst->map_ready = false;
  double* const map_x = reuse || build ? inst->map : nullptr;
  double* const map_y = reuse || build ? inst->map + inst->pixel_count : nullptr;
  alignas(64) double batch_x[orrelind_batch], batch_y[orrelind_batch];
  uint64_t kept = reuse ? inst->map_kept : orrelind_no_pixel;

  // Source points in vectors wherever they are computed for this frame
  // alone (a map holds the C library's), if the set has them for this
  // frame size and the bound is small enough to prove anything.
  orrelind_byte_margins byte_margins = {0.0, 0.0};
  const bool vector_points =
      moving && !reuse && !build && orrelind_margins(&g, &byte_margins);

  // Everything between two warped runs, the end of one row and the start of
  // the next included, is one contiguous block of unchanged pixels. A shared
  // frame already holds them.
  uint64_t pending = 0;
  uint64_t mapped = 0;  // map entries passed so far
  for (uint32_t y = 0; y < height; ++y) {
    const double dy = double(y) - g.cy;
    const double dy2 = dy * dy;
    uint32_t first, last;
    if (!orrelind_row_span(g, dy2, &first, &last)) continue;
    const uint64_t run_start = uint64_t(y) * width + first;
    if (!same_frame && run_start > pending)
      std::memcpy(outframe + pending, inframe + pending, (run_start - pending) * sizeof(uint32_t));
    const uint32_t run = last - first + 1;
    uint32_t* const dst = outframe + run_start;
    if (reuse) {
      resample(src, map_x + mapped, map_y + mapped, run, dst);
    } else if (vector_points) {
      const uint32_t centre =
          orrelind_warp_run_moving(*moving, resample, g, src, y, dy, dy2, first, run, byte_margins,
                                   dst);
      if (centre < run) kept = run_start + centre;
    } else {
      for (uint32_t i = 0; i < run;) {
        const uint32_t n = run - i < orrelind_batch ? run - i : orrelind_batch;
        double* const sx = map_x ? map_x + mapped + i : batch_x;
        double* const sy = map_y ? map_y + mapped + i : batch_y;
        const uint32_t centre =
            orrelind_source_points(g, src.pixels, y, dy, dy2, first + i, n, sx, sy);
        if (centre < n) kept = run_start + i + centre;
        resample(src, sx, sy, n, dst + i);
        i += n;
      }
    }
    mapped += run;
    pending = uint64_t(y) * width + last + 1;
  }
  if (!same_frame && inst->pixel_count > pending)
    std::memcpy(outframe + pending, inframe + pending,
                (inst->pixel_count - pending) * sizeof(uint32_t));
  if (kept != orrelind_no_pixel) outframe[kept] = src.pixels[kept];

  if (build) {
    std::memcpy(inst->map_params, params, param_bytes);
    inst->map_kept = kept;
    inst->map_ready = true;
  }
}
