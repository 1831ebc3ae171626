// Orrelind: radial whirl/pinch warp.
//
// Inside a circle around a chosen centre every output pixel is fetched from a
// point of the input turned about the centre (Whirl: most near the centre,
// nothing at the rim) and moved along its radius (Pinch), and resampled from
// the four pixels around that point by bilinear interpolation weighted by
// alpha, so that transparent pixels lend no colour to their neighbours.
// Pixels on or outside the circle are copied unchanged.
//
// Parameters, each 0..1 with 0.5 neutral:
//   Whirl     turn at the centre, -720..+720 degrees
//   Pinch     -1..+1; positive draws the picture in towards the centre,
//             negative pushes it out
//   Radius    0..2 units of half the shorter frame side (0.5 is one unit)
//   Center X  0 is the left column, 1 the right column
//   Center Y  0 is the top row, 1 the bottom row
//
// Bytes 0..2 of a pixel are treated alike and byte 3 is alpha, so the effect
// works on BGRA and RGBA alike. The arithmetic is in doubles, every operation
// rounded on its own in a fixed order: the output is reproducible to the bit.
// The API header declares the entry points without C linkage; declared
// here with it, and visible, they are what the library exports (the build
// hides everything else).
extern "C" {
#pragma GCC visibility push(default)
#include <frei0r.h>
#pragma GCC visibility pop
}

#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Highest instruction set the build may use: 1 SSE2, 2 AVX2. Test builds
// lower it to hold every path to the same bytes on one machine.
#ifndef EFFECTS_ISA_LIMIT
#define EFFECTS_ISA_LIMIT 3
#endif

namespace {

enum orrelind_param_index {
  ORRELIND_WHIRL,
  ORRELIND_PINCH,
  ORRELIND_RADIUS,
  ORRELIND_CENTER_X,
  ORRELIND_CENTER_Y,
  ORRELIND_PARAM_COUNT
};

struct orrelind_param_row {
  const char* name;
  const char* explanation;
  double default_value;
};

const orrelind_param_row orrelind_params[ORRELIND_PARAM_COUNT] = {
    {"Whirl", "Whirl angle: -720 to +720 degrees; 0.5 is neutral.", 0.5},
    {"Pinch", "Pinch amount: -1 to +1; 0.5 is neutral.", 0.5},
    {"Radius", "Radius: 0 to 2; 0.5 gives radius 1.", 0.5},
    {"Center X", "Horizontal center, normalized 0 to 1.", 0.5},
    {"Center Y", "Vertical center, normalized 0 to 1.", 0.5},
};

// The doubles nearest to 8 pi and -4 pi: Whirl 0..1 becomes -4 pi..+4 pi
// with 0.5 landing on exactly 0.
constexpr double orrelind_whirl_scale = 25.132741228718345;
constexpr double orrelind_whirl_offset = -12.566370614359172;
// Below this the whirl angle or pinch amount counts as none.
constexpr double orrelind_neutral_epsilon = 1e-12;
constexpr uint64_t orrelind_max_pixels = uint64_t(1) << 62;

struct orrelind_instance {
  uint32_t frame_width;
  uint32_t frame_height;
  double params[ORRELIND_PARAM_COUNT];
  uint32_t* scratch;     // copy of the input for same-frame updates
  uint64_t pixel_count;  // frame_width * frame_height, below 2^62
};

// Working quantities of one update.
struct orrelind_warp {
  const uint32_t* src;
  uint32_t* dst;
  uint32_t width;
  uint32_t height;
  double radius;      // R, in pixels
  double inv_radius;  // 1 / R
  double whirl;       // W, radians
  double pinch;       // P
  double cx;
  double cy;
  double max_x;  // width - 1
  double max_y;  // height - 1
  // The batch kernel of this update (see orrelind_batch_fn).
  void (*batch)(const orrelind_warp& w, double dy, double dy2, uint32_t x,
                uint32_t n, const uint32_t* src_run, uint32_t* dst_run);
};

// The normalised distance from the centre of pixel column x in a row whose
// squared vertical offset is dy2. Every decision about which pixels are
// warped goes through this one expression, so the runs copied as blocks and
// the pixels warped one by one can never disagree.
inline double orrelind_distance(const orrelind_warp& w, uint32_t x,
                                double dy2) {
  const double dx = double(x) - w.cx;
  return std::sqrt(dx * dx + dy2) * w.inv_radius;
}

inline bool orrelind_inside(const orrelind_warp& w, uint32_t x, double dy2) {
  return orrelind_distance(w, x, dy2) < 1.0;
}

// Finds the columns of one row that lie strictly inside the circle. The
// distance never decreases away from the column nearest the centre, so they
// form one run [*first, *last]; returns false when the row has none. The
// geometric estimate only seeds the search; the exact test decides.
bool orrelind_row_span(const orrelind_warp& w, double dy2, uint32_t* first,
                       uint32_t* last) {
  uint32_t closest = uint32_t(w.cx + 0.5);
  if (closest > w.width - 1) closest = w.width - 1;
  if (!orrelind_inside(w, closest, dy2)) return false;

  const double chord2 = w.radius * w.radius - dy2;
  const double half = chord2 > 0.0 ? std::sqrt(chord2) : 0.0;

  const double left = std::ceil(w.cx - half);
  uint32_t a = left > 0.0 ? (left < double(closest) ? uint32_t(left) : closest) : 0;
  while (a > 0 && orrelind_inside(w, a - 1, dy2)) --a;
  while (!orrelind_inside(w, a, dy2)) ++a;

  const double right = std::floor(w.cx + half);
  uint32_t b = right < w.max_x ? (right > double(closest) ? uint32_t(right) : closest)
                               : w.width - 1;
  while (b < w.width - 1 && orrelind_inside(w, b + 1, dy2)) ++b;
  while (!orrelind_inside(w, b, dy2)) --b;

  *first = a;
  *last = b;
  return true;
}

// Rounds a computed double to a byte: clamp to 0..255, add 0.5, truncate.
inline uint8_t orrelind_byte(double v) {
  if (!(v > 0.0)) v = 0.0;
  if (!(v < 255.0)) v = 255.0;
  return uint8_t(v + 0.5);
}

// The same rounding for two lanes at once; exact, since max, min, the
// addition and the truncation act on each lane as the scalar code does.
inline __m128i orrelind_bytes2(__m128d v) {
  v = _mm_max_pd(v, _mm_setzero_pd());
  v = _mm_min_pd(v, _mm_set1_pd(255.0));
  return _mm_cvttpd_epi32(_mm_add_pd(v, _mm_set1_pd(0.5)));
}

// Where the four neighbours of one source point are, and how far between
// them the point lies.
struct orrelind_tap {
  uint64_t index;  // the top-left neighbour (x0, y0)
  uint64_t down;   // offset to the row below: width, or 0 on the last row
  uint32_t right;  // offset to the next column: 1, or 0 in the last column
  double fx;
  double fy;
};

inline orrelind_tap orrelind_locate(const orrelind_warp& w, double sx,
                                    double sy) {
  const uint32_t x0 = uint32_t(sx);
  const uint32_t y0 = uint32_t(sy);
  orrelind_tap tap;
  tap.index = uint64_t(y0) * w.width + x0;
  tap.right = x0 + 1 < w.width ? 1 : 0;
  tap.down = y0 + 1 < w.height ? w.width : 0;
  tap.fx = sx - double(x0);
  tap.fy = sy - double(y0);
  return tap;
}

// The part of a pixel's mapping before the sincos call: fills its source
// angle theta and source distance rho and returns false, or returns true
// when the pixel passes unchanged (on or outside the circle, or on the
// centre), in which case neither is needed and atan2 is not called.
inline bool orrelind_polar(const orrelind_warp& w, double dy, double dy2,
                           uint32_t x, double* theta, double* rho) {
  const double r = orrelind_distance(w, x, dy2);
  if (!(r < 1.0) || r < orrelind_neutral_epsilon) return true;
  const double dx = double(x) - w.cx;
  const double t = 1.0 - r;
  const double t2 = t * t;
  *theta = std::atan2(dy, dx) + t2 * w.whirl;
  double d = (t2 * w.pinch + 1.0) * r;
  if (!(d > 0.0)) d = 0.0;
  *rho = d * w.radius;
  return false;
}

// The part after it: the source point, clamped into the frame.
inline orrelind_tap orrelind_source(const orrelind_warp& w, double sine,
                                    double cosine, double rho) {
  double sx = cosine * rho + w.cx;
  double sy = sine * rho + w.cy;
  if (!(sx > 0.0)) sx = 0.0;
  if (w.max_x < sx) sx = w.max_x;
  if (!(sy > 0.0)) sy = 0.0;
  if (w.max_y < sy) sy = w.max_y;
  return orrelind_locate(w, sx, sy);
}

// Alpha-weighted bilinear resampling at one source point. Returns the
// output pixel.
inline uint32_t orrelind_resample(const uint32_t* src, const orrelind_tap& tap) {
  const uint32_t* top_row = src + tap.index;
  const uint32_t p00 = top_row[0];
  const uint32_t p10 = top_row[tap.right];
  const uint32_t p01 = top_row[tap.down];
  const uint32_t p11 = top_row[tap.down + tap.right];
  const double fx = tap.fx, fy = tap.fy;

  const uint32_t alpha00 = p00 >> 24;
  const bool same_alpha = alpha00 == (p10 >> 24) && alpha00 == (p01 >> 24) &&
                          alpha00 == (p11 >> 24);

  // Colour bytes 0 and 1 in one vector, byte 2 and alpha in the other.
  const __m128i zero = _mm_setzero_si128();
  const __m128i i00 = _mm_unpacklo_epi16(
      _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(p00)), zero), zero);
  const __m128i i10 = _mm_unpacklo_epi16(
      _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(p10)), zero), zero);
  const __m128i i01 = _mm_unpacklo_epi16(
      _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(p01)), zero), zero);
  const __m128i i11 = _mm_unpacklo_epi16(
      _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(p11)), zero), zero);
  __m128d lo00 = _mm_cvtepi32_pd(i00), hi00 = _mm_cvtepi32_pd(_mm_srli_si128(i00, 8));
  __m128d lo10 = _mm_cvtepi32_pd(i10), hi10 = _mm_cvtepi32_pd(_mm_srli_si128(i10, 8));
  __m128d lo01 = _mm_cvtepi32_pd(i01), hi01 = _mm_cvtepi32_pd(_mm_srli_si128(i01, 8));
  __m128d lo11 = _mm_cvtepi32_pd(i11), hi11 = _mm_cvtepi32_pd(_mm_srli_si128(i11, 8));

  uint32_t alpha_byte;
  __m128d k;
  if (same_alpha) {
    // Weights of 1: the interpolated alpha is a00 itself and the colour
    // needs neither the products nor the final multiplication by 1 / 1.
    if (alpha00 == 0) return 0;
    alpha_byte = alpha00;
    k = _mm_set1_pd(1.0);
  } else {
    const double a00 = double(p00 >> 24), a10 = double(p10 >> 24);
    const double a01 = double(p01 >> 24), a11 = double(p11 >> 24);
    const double top = (a10 - a00) * fx + a00;
    const double bottom = (a11 - a01) * fx + a01;
    const double alpha = (bottom - top) * fy + top;
    alpha_byte = orrelind_byte(alpha);
    if (alpha_byte == 0) return 0;
    // The colour of each neighbour weighs as much as its alpha.
    const __m128d w00 = _mm_set1_pd(a00), w10 = _mm_set1_pd(a10);
    const __m128d w01 = _mm_set1_pd(a01), w11 = _mm_set1_pd(a11);
    lo00 = _mm_mul_pd(lo00, w00), hi00 = _mm_mul_pd(hi00, w00);
    lo10 = _mm_mul_pd(lo10, w10), hi10 = _mm_mul_pd(hi10, w10);
    lo01 = _mm_mul_pd(lo01, w01), hi01 = _mm_mul_pd(hi01, w01);
    lo11 = _mm_mul_pd(lo11, w11), hi11 = _mm_mul_pd(hi11, w11);
    k = _mm_set1_pd(1.0 / alpha);
  }

  const __m128d vfx = _mm_set1_pd(fx);
  const __m128d vfy = _mm_set1_pd(fy);
  // top = (q10 - q00) * fx + q00; v = (q01 - top) + (q11 - q01) * fx;
  // m = v * fy + top; value = m * k. The alpha lane of hi is computed and
  // thrown away.
  const __m128d top_lo = _mm_add_pd(_mm_mul_pd(_mm_sub_pd(lo10, lo00), vfx), lo00);
  const __m128d top_hi = _mm_add_pd(_mm_mul_pd(_mm_sub_pd(hi10, hi00), vfx), hi00);
  const __m128d v_lo = _mm_add_pd(_mm_sub_pd(lo01, top_lo),
                                  _mm_mul_pd(_mm_sub_pd(lo11, lo01), vfx));
  const __m128d v_hi = _mm_add_pd(_mm_sub_pd(hi01, top_hi),
                                  _mm_mul_pd(_mm_sub_pd(hi11, hi01), vfx));
  const __m128d m_lo = _mm_mul_pd(_mm_add_pd(_mm_mul_pd(v_lo, vfy), top_lo), k);
  const __m128d m_hi = _mm_mul_pd(_mm_add_pd(_mm_mul_pd(v_hi, vfy), top_hi), k);

  const __m128i b_lo = orrelind_bytes2(m_lo);
  const __m128i b_hi = orrelind_bytes2(m_hi);
  const uint32_t c0 = uint32_t(_mm_cvtsi128_si32(b_lo));
  const uint32_t c1 = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(b_lo, 4)));
  const uint32_t c2 = uint32_t(_mm_cvtsi128_si32(b_hi));
  return c0 | (c1 << 8) | (c2 << 16) | (alpha_byte << 24);
}

// Pixels are warped in batches of up to 128 from one row, in three passes:
// up to atan2, from sincos to the source point, the resampling. Inside a
// pass no pixel waits for another, so the processor overlaps consecutive
// library calls, and the source pixels, requested as soon as their
// addresses are known, have arrived by the time the last pass reads them.
constexpr uint32_t orrelind_batch = 128;

// One batch: output pixels x .. x + n - 1 of the row with offset dy from the
// centre, all inside the circle; src_run and dst_run point at pixel x of
// that row.
using orrelind_batch_fn = void (*)(const orrelind_warp& w, double dy,
                                   double dy2, uint32_t x, uint32_t n,
                                   const uint32_t* src_run, uint32_t* dst_run);

void orrelind_batch_sse2(const orrelind_warp& w, double dy, double dy2,
                         uint32_t x, uint32_t n, const uint32_t* src_run,
                         uint32_t* dst_run) {
  double theta[orrelind_batch], rho[orrelind_batch];
  bool unchanged[orrelind_batch];
  orrelind_tap taps[orrelind_batch];
  for (uint32_t i = 0; i < n; ++i)
    unchanged[i] = orrelind_polar(w, dy, dy2, x + i, &theta[i], &rho[i]);
  // Bit for bit the same as separate sin and cos with the C library this is
  // built against (the tests prove it over the angles that occur), at a good
  // deal less than their cost.
  for (uint32_t i = 0; i < n; ++i) {
    if (unchanged[i]) continue;
    double s, c;
    ::sincos(theta[i], &s, &c);
    taps[i] = orrelind_source(w, s, c, rho[i]);
    __builtin_prefetch(w.src + taps[i].index);
    __builtin_prefetch(w.src + taps[i].index + taps[i].down);
  }
  for (uint32_t i = 0; i < n; ++i)
    dst_run[i] = unchanged[i] ? src_run[i] : orrelind_resample(w.src, taps[i]);
}

#if EFFECTS_ISA_LIMIT >= 2
// The same batch with the resampling four pixels to a vector, each lane a
// pixel following the scalar formulas operation for operation.
#define ORRELIND_AVX2 __attribute__((target("avx2")))

struct orrelind_lanes {
  __m256d byte0, byte1, byte2, alpha;
};

// The four bytes of four pixels as doubles, one vector per byte position.
ORRELIND_AVX2 inline orrelind_lanes orrelind_split_avx2(__m128i p) {
  const __m128i low = _mm_set1_epi32(0xFF);
  return {_mm256_cvtepi32_pd(_mm_and_si128(p, low)),
          _mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(p, 8), low)),
          _mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(p, 16), low)),
          _mm256_cvtepi32_pd(_mm_srli_epi32(p, 24))};
}

// Clamp to 0..255, add 0.5, truncate, per lane.
ORRELIND_AVX2 inline __m128i orrelind_bytes4_avx2(__m256d v) {
  v = _mm256_max_pd(v, _mm256_setzero_pd());
  v = _mm256_min_pd(v, _mm256_set1_pd(255.0));
  return _mm256_cvttpd_epi32(_mm256_add_pd(v, _mm256_set1_pd(0.5)));
}

// One colour byte position of four pixels: q = c * w, then
// top = (q10 - q00) fx + q00, v = (q01 - top) + (q11 - q01) fx,
// m = v fy + top, value = m k.
ORRELIND_AVX2 inline __m128i orrelind_colour_avx2(
    __m256d c00, __m256d c10, __m256d c01, __m256d c11, __m256d w00,
    __m256d w10, __m256d w01, __m256d w11, __m256d fx, __m256d fy, __m256d k) {
  const __m256d q00 = _mm256_mul_pd(c00, w00), q10 = _mm256_mul_pd(c10, w10);
  const __m256d q01 = _mm256_mul_pd(c01, w01), q11 = _mm256_mul_pd(c11, w11);
  const __m256d top = _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(q10, q00), fx), q00);
  const __m256d v = _mm256_add_pd(_mm256_sub_pd(q01, top),
                                  _mm256_mul_pd(_mm256_sub_pd(q11, q01), fx));
  const __m256d m = _mm256_add_pd(_mm256_mul_pd(v, fy), top);
  return orrelind_bytes4_avx2(_mm256_mul_pd(m, k));
}

// The same with every weight and k equal to 1.
ORRELIND_AVX2 inline __m128i orrelind_plain_avx2(__m256d q00, __m256d q10,
                                                 __m256d q01, __m256d q11,
                                                 __m256d fx, __m256d fy) {
  const __m256d top = _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(q10, q00), fx), q00);
  const __m256d v = _mm256_add_pd(_mm256_sub_pd(q01, top),
                                  _mm256_mul_pd(_mm256_sub_pd(q11, q01), fx));
  return orrelind_bytes4_avx2(_mm256_add_pd(_mm256_mul_pd(v, fy), top));
}

// Bytes 0, 1, 2 and alpha of four pixels into four pixels; those whose
// alpha byte is 0 become 0.
ORRELIND_AVX2 inline __m128i orrelind_pack_avx2(__m128i b0, __m128i b1,
                                                __m128i b2, __m128i alpha,
                                                __m128i transparent) {
  const __m128i pixel = _mm_or_si128(
      _mm_or_si128(b0, _mm_slli_epi32(b1, 8)),
      _mm_or_si128(_mm_slli_epi32(b2, 16), _mm_slli_epi32(alpha, 24)));
  return _mm_andnot_si128(transparent, pixel);
}

// Alpha-weighted bilinear resampling of the four source points whose taps
// start at `at` in the batch arrays.
ORRELIND_AVX2 inline __m128i orrelind_resample4_avx2(
    const uint32_t* src, const uint64_t* index, const uint64_t* right,
    const uint64_t* down, const double* fxs, const double* fys) {
  const uint32_t* t0 = src + index[0];
  const uint32_t* t1 = src + index[1];
  const uint32_t* t2 = src + index[2];
  const uint32_t* t3 = src + index[3];
  // Built in registers: storing the lanes to memory and loading them as one
  // vector would stall on store forwarding.
  const __m128i p00 = _mm_set_epi32(int(t3[0]), int(t2[0]), int(t1[0]), int(t0[0]));
  const __m128i p10 = _mm_set_epi32(int(t3[right[3]]), int(t2[right[2]]),
                                    int(t1[right[1]]), int(t0[right[0]]));
  const __m128i p01 = _mm_set_epi32(int(t3[down[3]]), int(t2[down[2]]),
                                    int(t1[down[1]]), int(t0[down[0]]));
  const __m128i p11 = _mm_set_epi32(
      int(t3[down[3] + right[3]]), int(t2[down[2] + right[2]]),
      int(t1[down[1] + right[1]]), int(t0[down[0] + right[0]]));
  const __m256d fx = _mm256_load_pd(fxs), fy = _mm256_load_pd(fys);
  const orrelind_lanes n00 = orrelind_split_avx2(p00), n10 = orrelind_split_avx2(p10);
  const orrelind_lanes n01 = orrelind_split_avx2(p01), n11 = orrelind_split_avx2(p11);

  // top = (a10 - a00) fx + a00; bottom = (a11 - a01) fx + a01;
  // A = (bottom - top) fy + top.
  const __m256d top = _mm256_add_pd(
      _mm256_mul_pd(_mm256_sub_pd(n10.alpha, n00.alpha), fx), n00.alpha);
  const __m256d bottom = _mm256_add_pd(
      _mm256_mul_pd(_mm256_sub_pd(n11.alpha, n01.alpha), fx), n01.alpha);
  const __m256d alpha = _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(bottom, top), fy), top);
  const __m128i alpha_byte = orrelind_bytes4_avx2(alpha);
  const __m128i transparent = _mm_cmpeq_epi32(alpha_byte, _mm_setzero_si128());

  const __m128i differ = _mm_or_si128(
      _mm_or_si128(_mm_xor_si128(p00, p10), _mm_xor_si128(p00, p01)),
      _mm_xor_si128(p00, p11));
  const __m128i same32 =
      _mm_cmpeq_epi32(_mm_srli_epi32(differ, 24), _mm_setzero_si128());
  const __m256d same = _mm256_castsi256_pd(_mm256_cvtepi32_epi64(same32));
  const __m256d plain = _mm256_castsi256_pd(
      _mm256_cvtepi32_epi64(_mm_or_si128(same32, transparent)));

  const __m256d one = _mm256_set1_pd(1.0);
  if (_mm_movemask_ps(_mm_castsi128_ps(same32)) == 0xF) {
    // All four with one alpha around them (opaque video): weights of 1 and
    // k = 1 would change nothing, so they are left out.
    const __m128i b0 = orrelind_plain_avx2(n00.byte0, n10.byte0, n01.byte0, n11.byte0, fx, fy);
    const __m128i b1 = orrelind_plain_avx2(n00.byte1, n10.byte1, n01.byte1, n11.byte1, fx, fy);
    const __m128i b2 = orrelind_plain_avx2(n00.byte2, n10.byte2, n01.byte2, n11.byte2, fx, fy);
    return orrelind_pack_avx2(b0, b1, b2, alpha_byte, transparent);
  }
  // One alpha: weights 1 and D = 1. Otherwise each weight is its alpha and
  // D = A; a lane whose alpha byte is 0 ends as 0 whatever k is.
  const __m256d w00 = _mm256_blendv_pd(n00.alpha, one, same);
  const __m256d w10 = _mm256_blendv_pd(n10.alpha, one, same);
  const __m256d w01 = _mm256_blendv_pd(n01.alpha, one, same);
  const __m256d w11 = _mm256_blendv_pd(n11.alpha, one, same);
  const __m256d k = _mm256_div_pd(one, _mm256_blendv_pd(alpha, one, plain));

  const __m128i b0 = orrelind_colour_avx2(n00.byte0, n10.byte0, n01.byte0, n11.byte0,
                                          w00, w10, w01, w11, fx, fy, k);
  const __m128i b1 = orrelind_colour_avx2(n00.byte1, n10.byte1, n01.byte1, n11.byte1,
                                          w00, w10, w01, w11, fx, fy, k);
  const __m128i b2 = orrelind_colour_avx2(n00.byte2, n10.byte2, n01.byte2, n11.byte2,
                                          w00, w10, w01, w11, fx, fy, k);
  return orrelind_pack_avx2(b0, b1, b2, alpha_byte, transparent);
}

ORRELIND_AVX2 void orrelind_batch_avx2(const orrelind_warp& w, double dy,
                                       double dy2, uint32_t x, uint32_t n,
                                       const uint32_t* src_run,
                                       uint32_t* dst_run) {
  double theta[orrelind_batch], rho[orrelind_batch];
  alignas(32) double fx[orrelind_batch], fy[orrelind_batch];
  alignas(32) uint64_t index[orrelind_batch], right[orrelind_batch],
      down[orrelind_batch];
  alignas(32) uint32_t out[orrelind_batch];
  // The lanes that only fill the last vector count as unchanged: they read
  // pixel 0 and are dropped.
  const uint32_t lanes = (n + 3) & ~3u;
  bool unchanged[orrelind_batch];
  for (uint32_t i = n; i < lanes; ++i) unchanged[i] = true;
  for (uint32_t i = 0; i < n; ++i)
    unchanged[i] = orrelind_polar(w, dy, dy2, x + i, &theta[i], &rho[i]);
  for (uint32_t i = 0; i < lanes; ++i) {
    orrelind_tap tap{0, 0, 0, 0.0, 0.0};
    if (!unchanged[i]) {
      double s, c;
      ::sincos(theta[i], &s, &c);  // as in the baseline batch
      tap = orrelind_source(w, s, c, rho[i]);
      __builtin_prefetch(w.src + tap.index);
      __builtin_prefetch(w.src + tap.index + tap.down);
    }
    index[i] = tap.index;
    right[i] = tap.right;
    down[i] = tap.down;
    fx[i] = tap.fx;
    fy[i] = tap.fy;
  }
  for (uint32_t i = 0; i < lanes; i += 4)
    _mm_store_si128(reinterpret_cast<__m128i*>(out + i),
                    orrelind_resample4_avx2(w.src, index + i, right + i,
                                            down + i, fx + i, fy + i));
  std::memcpy(dst_run, out, n * sizeof(uint32_t));
  for (uint32_t i = 0; i < n; ++i)
    if (unchanged[i]) dst_run[i] = src_run[i];
}
#undef ORRELIND_AVX2
#endif

// Warps the pixels x = first..last of row y, all inside the circle.
void orrelind_warp_run(const orrelind_warp& w, uint32_t y, double dy,
                       double dy2, uint32_t first, uint32_t last) {
  const uint64_t row = uint64_t(y) * w.width;
  for (uint32_t x = first; x <= last;) {
    const uint32_t n = last - x + 1 < orrelind_batch ? last - x + 1 : orrelind_batch;
    w.batch(w, dy, dy2, x, n, w.src + row + x, w.dst + row + x);
    x += n;
  }
}

// Copies the source rows that the warp can read into scratch, for an update
// whose input and output are one frame. A source point lies no farther from
// the centre than the warp radius (up to rounding, covered by the margin),
// and its right and lower neighbours one pixel beyond.
void orrelind_save_source(const orrelind_instance* inst, const uint32_t* frame,
                          double cx, double cy, double radius) {
  const uint32_t w = inst->frame_width, h = inst->frame_height;
  auto lower = [](double centre, double r) -> uint32_t {
    const double v = std::floor(centre - r) - 2.0;
    return v > 0.0 ? uint32_t(v) : 0;
  };
  auto upper = [](double centre, double r, uint32_t size) -> uint32_t {
    const double v = std::floor(centre + r) + 3.0;
    return v < double(size - 1) ? uint32_t(v) : size - 1;
  };
  const uint32_t x_lo = lower(cx, radius), x_hi = upper(cx, radius, w);
  const uint32_t y_lo = lower(cy, radius), y_hi = upper(cy, radius, h);
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

void orrelind_update(orrelind_instance* inst, const uint32_t* inframe,
                     uint32_t* outframe) {
  const bool same_frame = inframe == outframe;
  const uint32_t width = inst->frame_width, height = inst->frame_height;
  const size_t frame_bytes = size_t(inst->pixel_count) * sizeof(uint32_t);

  const double radius =
      double(width < height ? width : height) * inst->params[ORRELIND_RADIUS];
  const double whirl = inst->params[ORRELIND_WHIRL] * orrelind_whirl_scale +
                       orrelind_whirl_offset;
  const double pinch = inst->params[ORRELIND_PINCH] * 2.0 + (-1.0);
  if (radius < 0.5 || (std::fabs(whirl) < orrelind_neutral_epsilon &&
                       std::fabs(pinch) < orrelind_neutral_epsilon)) {
    // The output is the input; a shared frame already holds it.
    if (!same_frame) std::memmove(outframe, inframe, frame_bytes);
    return;
  }

  orrelind_warp w;
  w.width = width;
  w.height = height;
  w.radius = radius;
  w.inv_radius = 1.0 / radius;
  w.whirl = whirl;
  w.pinch = pinch;
  w.cx = double(width - 1) * inst->params[ORRELIND_CENTER_X];
  w.cy = double(height - 1) * inst->params[ORRELIND_CENTER_Y];
  w.max_x = double(width - 1);
  w.max_y = double(height - 1);
  w.dst = outframe;
  w.batch = orrelind_batch_sse2;
#if EFFECTS_ISA_LIMIT >= 2
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) w.batch = orrelind_batch_avx2;
#endif
  if (same_frame) {
    orrelind_save_source(inst, inframe, w.cx, w.cy, radius);
    w.src = inst->scratch;
  } else {
    w.src = inframe;
  }

  // Everything between two warped runs, the end of one row and the start of
  // the next included, is one contiguous block of unchanged pixels. A shared
  // frame already holds them.
  uint64_t pending = 0;
  for (uint32_t y = 0; y < height; ++y) {
    const double dy = double(y) - w.cy;
    const double dy2 = dy * dy;
    uint32_t first, last;
    if (!orrelind_row_span(w, dy2, &first, &last)) continue;
    const uint64_t run_start = uint64_t(y) * width + first;
    if (!same_frame && run_start > pending)
      std::memcpy(outframe + pending, inframe + pending,
                  (run_start - pending) * sizeof(uint32_t));
    orrelind_warp_run(w, y, dy, dy2, first, last);
    pending = uint64_t(y) * width + last + 1;
  }
  if (!same_frame && inst->pixel_count > pending)
    std::memcpy(outframe + pending, inframe + pending,
                (inst->pixel_count - pending) * sizeof(uint32_t));
}

}  // namespace

extern "C" {

// No global state: init and deinit have nothing to do.
int f0r_init() { return 1; }
void f0r_deinit() {}

// Fills the description; the strings are constants of the library.
void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  if (!info) return;
  info->name = "Orrelind";
  info->author = "Corbelane";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_BGRA8888;
  info->frei0r_version = 1;
  info->major_version = 1;
  info->minor_version = 2;
  info->num_params = ORRELIND_PARAM_COUNT;
  info->explanation =
      "Real-time radial whirl/pinch approximation. Whirl: -720..+720 "
      "degrees; Pinch: -1..+1; Radius: 0..2; Center X/Y: normalized.";
}

// A null record or an index outside the table leaves everything untouched.
void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
  if (!info || unsigned(param_index) >= ORRELIND_PARAM_COUNT) return;
  info->name = orrelind_params[param_index].name;
  info->type = F0R_PARAM_DOUBLE;
  info->explanation = orrelind_params[param_index].explanation;
}

// Null when either side is 0, when the frame has 2^62 pixels or more, or
// when memory runs out (with nothing left allocated).
f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  if (width == 0 || height == 0) return nullptr;
  const uint64_t pixel_count = uint64_t(width) * height;
  if (pixel_count >= orrelind_max_pixels) return nullptr;
  auto* inst =
      static_cast<orrelind_instance*>(std::calloc(1, sizeof(orrelind_instance)));
  if (!inst) return nullptr;
  inst->frame_width = width;
  inst->frame_height = height;
  for (int i = 0; i < ORRELIND_PARAM_COUNT; ++i)
    inst->params[i] = orrelind_params[i].default_value;
  inst->pixel_count = pixel_count;
  // Not cleared: every part of it that is read is written first.
  if (pixel_count > SIZE_MAX / sizeof(uint32_t)) {
    std::free(inst);
    return nullptr;
  }
  inst->scratch = static_cast<uint32_t*>(
      std::malloc(size_t(pixel_count) * sizeof(uint32_t)));
  if (!inst->scratch) {
    std::free(inst);
    return nullptr;
  }
  return inst;
}

void f0r_destruct(f0r_instance_t instance) {
  auto* inst = static_cast<orrelind_instance*>(instance);
  if (!inst) return;
  std::free(inst->scratch);
  std::free(inst);
}

// Stores the value clamped into 0..1, the upper bound first so that a NaN
// becomes 1.0. Null arguments and indices outside the table are ignored.
void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param,
                         int param_index) {
  auto* inst = static_cast<orrelind_instance*>(instance);
  if (!inst || !param || unsigned(param_index) >= ORRELIND_PARAM_COUNT) return;
  const double x = *static_cast<const double*>(param);
  double v = x < 1.0 ? x : 1.0;
  v = 0.0 > v ? 0.0 : v;
  inst->params[param_index] = v;
}

// Writes the stored value (0..1); the same guards as setting.
void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param,
                         int param_index) {
  auto* inst = static_cast<orrelind_instance*>(instance);
  if (!inst || !param || unsigned(param_index) >= ORRELIND_PARAM_COUNT) return;
  *static_cast<double*>(param) = inst->params[param_index];
}

// Warps one frame. inframe and outframe may be one and the same buffer;
// otherwise they must not overlap. Time plays no part. A null argument
// returns at once, writing nothing.
void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe,
                uint32_t* outframe) {
  (void)time;
  auto* inst = static_cast<orrelind_instance*>(instance);
  if (!inst || !inframe || !outframe) return;
  orrelind_update(inst, inframe, outframe);
}

}  // extern "C"
