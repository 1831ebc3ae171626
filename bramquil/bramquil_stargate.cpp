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
// effect's contract: the vector path gives the bytes the scalar one gives.

#include "bramquil.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>

namespace {

// Values fixed for one update.
struct bramquil_sg_frame {
  const bramquil_instance* inst;
  const uint32_t* ring;
  double depth;        // D, the tunnel's reach
  double half_extent;  // E, half the frame's extent across the slits
  double length;       // L, pixels per slit
  double along;        // S, the frame's extent along the slits
  double half_length;  // 0.5 × L
  double period;       // P = 2 × L, the period of the folded slit
  double inv_period;   // 1 / P, rounded
  double period_m1;    // P − 1
  double depth_m1;     // D − 1
  double fade;
  double oldest_age;   // slot_count − 1
  bool reverse;
};

// What depends only on the offset a across the slits: one column of the
// output with column slits, one row with row slits.
struct bramquil_sg_wall {
  bool hole;
  double z;         // perspective depth, 1 at the frame's edge, D at the hole
  double k;         // colour factor
  uint64_t offset;  // first ring pixel of the slot shown at this depth
};

bramquil_sg_wall bramquil_sg_wall_at(const bramquil_sg_frame& f, double a) {
  bramquil_sg_wall w{};
  const double abs_a = std::fabs(a);
  if (f.half_extent >= f.depth * abs_a) {
    w.hole = true;
    return w;
  }
  w.z = f.half_extent / abs_a;
  const double t = (f.depth - w.z) / f.depth_m1;
  const double fraction = f.reverse ? 1.0 - t : t;
  // fraction lies in 0..1 up to rounding, so the age lies in 0 … slot_count − 1.
  uint32_t age = uint32_t(f.oldest_age * fraction + 0.5);
  if (age > f.inst->slot_count - 1) age = f.inst->slot_count - 1;
  w.offset = uint64_t(bramquil_slot_of_age(f.inst, age)) * f.inst->slit_length;
  w.k = 1.0 - ((w.z - 1.0) * f.fade) / f.depth_m1;
  return w;
}

// One wall pixel at offset b along the slits.
//
// U = floor(((b × z) × L) / S + 0.5 × L) is folded with period P = 2L into
// 0 ≤ m < P (floored remainder). Here |b| ≤ S / 2 and z < D ≤ 64 (up to a
// rounding), so |U| < 2^38 and P < 2^34: every integer involved is exact in
// a double. The quotient is estimated as floor(U × fl(1/P)); its relative
// error is below 2^-51, an absolute error far below 1, so the estimate is
// the true floored quotient q or q ± 1 and U − estimate × P is m, m − P or
// m + P, computed exactly. One correction step in each direction gives m.
inline uint32_t bramquil_sg_pixel(const bramquil_sg_frame& f, double b, double z,
                                  uint64_t offset, double k) {
  const double u = std::floor(((b * z) * f.length) / f.along + f.half_length);
  double m = u - std::floor(u * f.inv_period) * f.period;
  if (m < 0.0)
    m += f.period;
  else if (m >= f.period)
    m -= f.period;
  const double pos = m < f.length ? m : f.period_m1 - m;
  const uint32_t px = f.ring[offset + uint64_t(pos)];
  const uint32_t r = uint32_t(double(px & 0xFF) * k + 0.5);
  const uint32_t g = uint32_t(double((px >> 8) & 0xFF) * k + 0.5);
  const uint32_t bl = uint32_t(double((px >> 16) & 0xFF) * k + 0.5);
  return (px & 0xFF000000u) | r | (g << 8) | (bl << 16);
}

constexpr uint32_t bramquil_black = 0xFF000000u;  // R = G = B = 0, A = 255

// A run of n wall pixels of one output row. Columns: b is the row's, and z,
// k, offset are per pixel. Rows: b is the first pixel's (one more for each
// next pixel), z, k, offset are the row's (pointers to one value).
using bramquil_sg_run = void (*)(const bramquil_sg_frame& f, double b, const double* z,
                                 const double* k, const uint64_t* offset,
                                 uint32_t* out, size_t n);

template <bool Columns>
void bramquil_sg_run_scalar(const bramquil_sg_frame& f, double b, const double* z,
                            const double* k, const uint64_t* offset, uint32_t* out,
                            size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if constexpr (Columns)
      out[i] = bramquil_sg_pixel(f, b, z[i], offset[i], k[i]);
    else
      out[i] = bramquil_sg_pixel(f, b + double(i), *z, *offset, *k);
  }
}

#ifndef BRAMQUIL_BASELINE_ONLY
// Four pixels at a time; each lane does the scalar operations in the scalar
// order, so the bytes are the same.
template <bool Columns>
__attribute__((target("avx2"))) void bramquil_sg_run_avx2(
    const bramquil_sg_frame& f, double b, const double* z, const double* k,
    const uint64_t* offset, uint32_t* out, size_t n) {
  const __m256d length = _mm256_set1_pd(f.length);
  const __m256d along = _mm256_set1_pd(f.along);
  const __m256d half_length = _mm256_set1_pd(f.half_length);
  const __m256d period = _mm256_set1_pd(f.period);
  const __m256d inv_period = _mm256_set1_pd(f.inv_period);
  const __m256d period_m1 = _mm256_set1_pd(f.period_m1);
  const __m256d zero = _mm256_setzero_pd();
  const __m256d half = _mm256_set1_pd(0.5);
  // Adding 2^52 puts a whole number below 2^52 into the low mantissa bits.
  const __m256d magic = _mm256_set1_pd(4503599627370496.0);
  const __m256i magic_bits = _mm256_castpd_si256(magic);
  const __m128i byte_mask = _mm_set1_epi32(0xFF);
  const __m128i alpha_mask = _mm_set1_epi32(int(0xFF000000u));

  __m256d bv, zv, kv;
  __m256i ov;
  if constexpr (Columns) {
    bv = _mm256_set1_pd(b);
  } else {
    bv = _mm256_setr_pd(b, b + 1.0, b + 2.0, b + 3.0);
    zv = _mm256_set1_pd(*z);
    kv = _mm256_set1_pd(*k);
    ov = _mm256_set1_epi64x(int64_t(*offset));
  }
  const __m256d step = _mm256_set1_pd(4.0);

  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    if constexpr (Columns) {
      zv = _mm256_loadu_pd(z + i);
      kv = _mm256_loadu_pd(k + i);
      ov = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(offset + i));
    }
    __m256d u = _mm256_mul_pd(bv, zv);
    u = _mm256_mul_pd(u, length);
    u = _mm256_div_pd(u, along);
    u = _mm256_add_pd(u, half_length);
    u = _mm256_floor_pd(u);
    __m256d m = _mm256_sub_pd(
        u, _mm256_mul_pd(_mm256_floor_pd(_mm256_mul_pd(u, inv_period)), period));
    m = _mm256_add_pd(m, _mm256_and_pd(_mm256_cmp_pd(m, zero, _CMP_LT_OQ), period));
    m = _mm256_sub_pd(m, _mm256_and_pd(_mm256_cmp_pd(m, period, _CMP_GE_OQ), period));
    const __m256d pos = _mm256_blendv_pd(_mm256_sub_pd(period_m1, m), m,
                                         _mm256_cmp_pd(m, length, _CMP_LT_OQ));
    const __m256i index = _mm256_add_epi64(
        _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(pos, magic)), magic_bits), ov);
    const __m128i px =
        _mm256_i64gather_epi32(reinterpret_cast<const int*>(f.ring), index, 4);

    const __m128i r = _mm_and_si128(px, byte_mask);
    const __m128i g = _mm_and_si128(_mm_srli_epi32(px, 8), byte_mask);
    const __m128i bl = _mm_and_si128(_mm_srli_epi32(px, 16), byte_mask);
    const __m128i ro =
        _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(r), kv), half));
    const __m128i go =
        _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(g), kv), half));
    const __m128i bo =
        _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(bl), kv), half));
    const __m128i result = _mm_or_si128(
        _mm_and_si128(px, alpha_mask),
        _mm_or_si128(ro, _mm_or_si128(_mm_slli_epi32(go, 8), _mm_slli_epi32(bo, 16))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), result);
    if constexpr (!Columns) bv = _mm256_add_pd(bv, step);
  }
  if constexpr (Columns)
    bramquil_sg_run_scalar<true>(f, b, z + i, k + i, offset + i, out + i, n - i);
  else
    bramquil_sg_run_scalar<false>(f, b + double(i), z, k, offset, out + i, n - i);
}
#endif

// Columns handled together with column slits: their per-column values live
// on the stack while every row of the strip is drawn.
constexpr size_t bramquil_sg_strip = 256;

void bramquil_sg_columns(const bramquil_sg_frame& f, bramquil_sg_run run, uint32_t* out) {
  const size_t w = f.inst->frame_width;
  const size_t h = f.inst->frame_height;
  const double half_w = double(f.inst->frame_width) * 0.5;
  const double half_h = double(f.inst->frame_height) * 0.5;
  double z[bramquil_sg_strip];
  double k[bramquil_sg_strip];
  uint64_t offset[bramquil_sg_strip];
  struct span {
    size_t begin, end;
    bool hole;
  } spans[bramquil_sg_strip];

  for (size_t x0 = 0; x0 < w; x0 += bramquil_sg_strip) {
    const size_t n = std::min(w - x0, bramquil_sg_strip);
    size_t span_count = 0;
    for (size_t i = 0; i < n; ++i) {
      const bramquil_sg_wall wall =
          bramquil_sg_wall_at(f, (double(x0 + i) + 0.5) - half_w);
      z[i] = wall.z;
      k[i] = wall.k;
      offset[i] = wall.offset;
      if (span_count > 0 && spans[span_count - 1].hole == wall.hole)
        spans[span_count - 1].end = i + 1;
      else
        spans[span_count++] = {i, i + 1, wall.hole};
    }
    for (size_t y = 0; y < h; ++y) {
      const double b = (double(y) + 0.5) - half_h;
      uint32_t* row = out + y * w + x0;
      for (size_t s = 0; s < span_count; ++s) {
        const span& sp = spans[s];
        if (sp.hole)
          std::fill(row + sp.begin, row + sp.end, bramquil_black);
        else
          run(f, b, z + sp.begin, k + sp.begin, offset + sp.begin, row + sp.begin,
              sp.end - sp.begin);
      }
    }
  }
}

void bramquil_sg_rows(const bramquil_sg_frame& f, bramquil_sg_run run, uint32_t* out) {
  const size_t w = f.inst->frame_width;
  const size_t h = f.inst->frame_height;
  const double half_w = double(f.inst->frame_width) * 0.5;
  const double half_h = double(f.inst->frame_height) * 0.5;
  for (size_t y = 0; y < h; ++y) {
    uint32_t* row = out + y * w;
    const bramquil_sg_wall wall = bramquil_sg_wall_at(f, (double(y) + 0.5) - half_h);
    if (wall.hole)
      std::fill(row, row + w, bramquil_black);
    else
      run(f, 0.5 - half_w, &wall.z, &wall.k, &wall.offset, row, w);
  }
}

}  // namespace

void bramquil_stargate(const bramquil_instance* inst, uint32_t* out) {
  bramquil_sg_frame f;
  f.inst = inst;
  f.ring = inst->ring;
  f.depth = inst->params[BRAMQUIL_DEPTH] * 62.0 + 2.0;
  f.half_extent = double(inst->slot_count) * 0.5;
  f.length = double(inst->slit_length);
  f.along = double(inst->ring_vertical ? inst->frame_height : inst->frame_width);
  f.half_length = 0.5 * f.length;
  f.period = 2.0 * f.length;
  f.inv_period = 1.0 / f.period;
  f.period_m1 = f.period - 1.0;
  f.depth_m1 = f.depth - 1.0;
  f.fade = inst->params[BRAMQUIL_FADE];
  f.oldest_age = double(inst->slot_count - 1);
  f.reverse = bramquil_on(inst->params[BRAMQUIL_REVERSE]);

  const bool columns = inst->ring_vertical != 0;
  bramquil_sg_run run = columns ? bramquil_sg_run_scalar<true> : bramquil_sg_run_scalar<false>;
#ifndef BRAMQUIL_BASELINE_ONLY
  if (__builtin_cpu_supports("avx2"))
    run = columns ? bramquil_sg_run_avx2<true> : bramquil_sg_run_avx2<false>;
#endif
  if (columns)
    bramquil_sg_columns(f, run, out);
  else
    bramquil_sg_rows(f, run, out);
}
