// bramquil's Stargate view: a tunnel down the middle of the frame.
//
// The two halves of the frame on either side of the centre line (left and
// right of it with column slits, above and below with row slits) are walls
// receding to a black hole. Distance into the tunnel is age in the ring:
// each depth shows the slit of one age, stretched with depth and folded back
// and forth where the wall needs more of it than the slit has. "Depth" sets
// how far the tunnel reaches (2 to 64), "Fade" how much the far end darkens,
// and "Reverse" puts the newest slit at the frame's edges instead of at the
// rim of the hole.
//
// The arithmetic is done in doubles in a fixed order and is part of the
// effect's contract: every faster form used here gives the same bytes.
//
// What depends only on the parameters and the frame size is kept between
// updates: per wall column (row), its depth, colour factor and age, rebuilt
// when Depth, Fade, Reverse or the orientation change; and the position
// along the slit of every pixel, which depends on Depth and the orientation
// alone. A frame is then mostly ring reads and the fade. The positions are
// stored only by an update whose reach and orientation are those of the
// update before, so a Depth that moves on every frame (a keyframed one)
// pays for no table it would never read.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "bramquil.h"
#include "bramquil_dispatch.h"

namespace {

// Values fixed for one update.
struct bramquil_sg_frame {
  const bramquil_instance* inst;
  bramquil_sg_consts consts;
  double depth;        // D, the tunnel's reach
  double half_extent;  // E, half the frame's extent across the slits
  double depth_m1;     // D − 1
  double fade;
  double oldest_age;  // slot_count − 1
  bool reverse;
  bool columns;
  size_t drawn;  // columns (rows) of the near half, and a middle one
};

// Walls of the near half's columns (rows) first … first + count − 1 into
// z, k, factor and age, up to the hole: returns how many lie before it. |a|
// only shrinks towards the centre line, so all the rest are in the hole.
size_t bramquil_sg_walls(const bramquil_sg_frame& f, uint32_t (*factor_of)(double), size_t first,
                         size_t count, double* z, double* k, uint32_t* factor, uint32_t* age) {
  for (size_t i = 0; i < count; ++i) {
    const double abs_a = std::fabs((double(first + i) + 0.5) - f.half_extent);
    if (f.half_extent >= f.depth * abs_a) return i;
    z[i] = f.half_extent / abs_a;
    const double t = (f.depth - z[i]) / f.depth_m1;
    const double fraction = f.reverse ? 1.0 - t : t;
    // fraction lies in 0..1 up to rounding, so the age lies in 0 … slot_count − 1.
    age[i] = uint32_t(f.oldest_age * fraction + 0.5);
    if (age[i] > f.inst->slot_count - 1) age[i] = f.inst->slot_count - 1;
    k[i] = 1.0 - ((z[i] - 1.0) * f.fade) / f.depth_m1;
    factor[i] = factor_of(k[i]);
  }
  return count;
}

// Where the slot of this age starts in the ring.
uint64_t bramquil_sg_offset(const bramquil_instance* inst, uint32_t age) {
  return uint64_t(bramquil_slot_of_age(inst, age)) * inst->slit_length;
}

// How this update uses the cache.
struct bramquil_sg_plan {
  const bramquil_sg_cache* cache;  // walls ready for this update, or null
  const uint16_t* table;           // positions ready for this update, or null
  uint16_t* store;                 // where to store this update's positions, or null
};

// Columns handled together with column slits: their walls and slots are
// formed once for every row of the strip, and the ring lines the strip is
// reading (one slot per column) stay in the caches from one row to the next.
constexpr size_t bramquil_sg_strip = 128;

// Reads the slots of the wall columns first … first + strip − 1 into the
// caches, spread over `rows` steps.
struct bramquil_sg_prefetch {
  const uint32_t* slot[bramquil_sg_strip];
  size_t count, lines, per_step, next, line;

  void start(const bramquil_sg_frame& f, const bramquil_sg_cache& c, size_t first, size_t rows) {
    count = next = line = 0;
    const size_t end = std::min<size_t>({f.drawn, first + bramquil_sg_strip, c.hole_begin});
    for (size_t x = first; x < end; ++x) {
      const uint32_t* s = f.inst->ring + bramquil_sg_offset(f.inst, c.age[x]);
      if (count == 0 || slot[count - 1] != s) slot[count++] = s;
    }
    lines = (size_t(f.inst->slit_length) * sizeof(uint32_t) + 63) / 64;
    per_step = (count * lines + rows - 1) / rows;
  }
  void step() {
    for (size_t p = 0; p < per_step && next < count; ++p) {
      __builtin_prefetch(reinterpret_cast<const char*>(slot[next]) + 64 * line, 0, 2);
      if (++line == lines) {
        line = 0;
        ++next;
      }
    }
  }
};

// Column x and column width − 1 − x lie at the same distance from the
// centre line (|a| is the same, exactly), and nothing else about a pixel
// depends on its column: the right half is the mirror image of the left.
void bramquil_sg_columns(const bramquil_sg_frame& f, const bramquil_sg_plan& plan,
                         const bramquil_kernel_set& kern, uint32_t* out) {
  const size_t w = f.inst->frame_width;
  const size_t h = f.inst->frame_height;
  const double half_h = double(f.inst->frame_height) * 0.5;
  double z_strip[bramquil_sg_strip], k_strip[bramquil_sg_strip];
  uint32_t factor_strip[bramquil_sg_strip], age_strip[bramquil_sg_strip];
  uint64_t offset[bramquil_sg_strip];

  bramquil_sg_run run{};
  run.consts = &f.consts;
  run.ring = f.inst->ring;
  run.offset = offset;
  for (size_t x0 = 0; x0 < f.drawn; x0 += bramquil_sg_strip) {
    const size_t n = std::min(f.drawn - x0, bramquil_sg_strip);
    const uint32_t* age;
    size_t walls;
    if (plan.cache) {
      const bramquil_sg_cache& c = *plan.cache;
      run.z = c.z + x0;
      run.k = c.k + x0;
      run.factor = c.factor + x0;
      age = c.age + x0;
      walls = c.hole_begin > x0 ? std::min(n, c.hole_begin - x0) : 0;
    } else {
      walls =
          bramquil_sg_walls(f, kern.sg_factor, x0, n, z_strip, k_strip, factor_strip, age_strip);
      run.z = z_strip;
      run.k = k_strip;
      run.factor = factor_strip;
      age = age_strip;
    }
    for (size_t i = 0; i < walls; ++i) offset[i] = bramquil_sg_offset(f.inst, age[i]);
    run.n = walls;
    // The next strip's slots are read into the caches while this one is
    // drawn, a few lines every row.
    bramquil_sg_prefetch next{};
    if (plan.cache) next.start(f, *plan.cache, x0 + n, h);
    for (size_t y = 0; y < h; ++y) {
      uint32_t* row = out + y * w;
      next.step();
      if (walls > 0) {
        run.b = (double(y) + 0.5) - half_h;
        // Strip by strip, row by row: the order they are read in.
        const size_t at = x0 * h + y * n;
        run.table = plan.table ? plan.table + at : nullptr;
        run.store = plan.store ? plan.store + at : nullptr;
        run.out = row + x0;
        run.mirror_end = row + w - x0;
        kern.sg_columns(run);
      }
      // The middle column of an odd width is its own mirror image.
      if (walls < n) {
        std::fill(row + x0 + walls, row + x0 + n, bramquil_black);
        std::fill(row + w - x0 - n, row + w - x0 - walls, bramquil_black);
      }
    }
  }
}

// Row y and row height − 1 − y are alike in the same way.
void bramquil_sg_rows(const bramquil_sg_frame& f, const bramquil_sg_plan& plan,
                      const bramquil_kernel_set& kern, uint32_t* out) {
  const size_t w = f.inst->frame_width;
  const size_t h = f.inst->frame_height;
  double z, k;
  uint32_t factor, age;
  uint64_t offset;

  bramquil_sg_run run{};
  run.consts = &f.consts;
  run.b = 0.5 - double(f.inst->frame_width) * 0.5;
  run.ring = f.inst->ring;
  run.offset = &offset;
  run.n = w;
  for (size_t y = 0; y < f.drawn; ++y) {
    uint32_t* row = out + y * w;
    bool wall;
    if (plan.cache) {
      const bramquil_sg_cache& c = *plan.cache;
      wall = y < c.hole_begin;
      run.z = c.z + y;
      run.k = c.k + y;
      run.factor = c.factor + y;
      age = wall ? c.age[y] : 0;
    } else {
      wall = bramquil_sg_walls(f, kern.sg_factor, y, 1, &z, &k, &factor, &age) == 1;
      run.z = &z;
      run.k = &k;
      run.factor = &factor;
    }
    if (wall) {
      offset = bramquil_sg_offset(f.inst, age);
      run.table = plan.table ? plan.table + y * w : nullptr;
      run.store = plan.store ? plan.store + y * w : nullptr;
      run.out = row;
      kern.sg_rows(run);
    } else {
      std::fill(row, row + w, bramquil_black);
    }
    if (h - 1 - y != y) std::memcpy(out + (h - 1 - y) * w, row, w * sizeof(uint32_t));
  }
}

// Brings the cache's walls up to this update's parameters and decides what
// happens to its positions.
bramquil_sg_plan bramquil_sg_prepare(bramquil_sg_cache& c, const bramquil_sg_frame& f,
                                     const bramquil_kernel_set& kern) {
  const uint32_t vertical = f.columns ? 1 : 0;
  const uint32_t reverse = f.reverse ? 1 : 0;
  if (!c.walls_ready || c.walls_vertical != vertical || c.walls_reverse != reverse ||
      c.walls_depth != f.depth || c.walls_fade != f.fade) {
    c.hole_begin =
        uint32_t(bramquil_sg_walls(f, kern.sg_factor, 0, f.drawn, c.z, c.k, c.factor, c.age));
    c.walls_ready = 1;
    c.walls_vertical = vertical;
    c.walls_reverse = reverse;
    c.walls_depth = f.depth;
    c.walls_fade = f.fade;
  }
  bramquil_sg_plan plan{&c, nullptr, nullptr};
  if (c.positions_ready && c.positions_vertical == vertical && c.positions_depth == f.depth) {
    plan.table = c.positions;
  } else if (c.seen_ready && c.seen_vertical == vertical && c.seen_depth == f.depth) {
    plan.store = c.positions;
    c.positions_ready = 1;
    c.positions_vertical = vertical;
    c.positions_depth = f.depth;
  }
  c.seen_ready = 1;
  c.seen_vertical = vertical;
  c.seen_depth = f.depth;
  return plan;
}

}  // namespace

void bramquil_sg_attach(bramquil_instance* inst) {
  const uint64_t w = inst->frame_width;
  const uint64_t h = inst->frame_height;
  if (w > bramquil_sg_cache_side || h > bramquil_sg_cache_side) return;
  const uint64_t walls = std::max(w - w / 2, h - h / 2);
  const uint64_t positions = std::max((w - w / 2) * h, w * (h - h / 2));
  // Doubles first, then 32-bit, then 16-bit arrays: each stays aligned.
  const uint64_t bytes =
      walls * (2 * sizeof(double) + 2 * sizeof(uint32_t)) + positions * sizeof(uint16_t);
  char* block = static_cast<char*>(std::malloc(size_t(bytes)));
  if (!block) return;
  bramquil_sg_cache& c = inst->sg;
  c.z = reinterpret_cast<double*>(block);
  c.k = c.z + walls;
  c.factor = reinterpret_cast<uint32_t*>(c.k + walls);
  c.age = c.factor + walls;
  c.positions = reinterpret_cast<uint16_t*>(c.age + walls);
}

void bramquil_stargate(bramquil_instance* inst, uint32_t* out) {
  const bramquil_kernel_set& kern = bramquil_kernels();
  bramquil_sg_frame f;
  f.inst = inst;
  f.depth = inst->params[BRAMQUIL_DEPTH] * 62.0 + 2.0;
  f.half_extent = double(inst->slot_count) * 0.5;
  f.depth_m1 = f.depth - 1.0;
  f.fade = inst->params[BRAMQUIL_FADE];
  f.oldest_age = double(inst->slot_count - 1);
  f.reverse = bramquil_on(inst->params[BRAMQUIL_REVERSE]);
  f.columns = inst->ring_vertical != 0;
  f.drawn = inst->slot_count - inst->slot_count / 2;
  bramquil_sg_consts& c = f.consts;
  c.length = double(inst->slit_length);
  c.along = double(f.columns ? inst->frame_height : inst->frame_width);
  c.half_length = 0.5 * c.length;
  c.period = 2.0 * c.length;
  c.inv_period = 1.0 / c.period;
  c.period_m1 = c.period - 1.0;

  const bramquil_sg_plan plan =
      inst->sg.z ? bramquil_sg_prepare(inst->sg, f, kern) : bramquil_sg_plan{};
  if (f.columns)
    bramquil_sg_columns(f, plan, kern, out);
  else
    bramquil_sg_rows(f, plan, kern, out);
}
