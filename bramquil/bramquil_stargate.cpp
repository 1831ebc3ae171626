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

#include "bramquil.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

// Highest instruction set the build may use: 1 SSE2, 2 AVX2. Test builds
// lower it to hold every path to the same bytes on one machine.
#ifndef EFFECTS_ISA_LIMIT
#define EFFECTS_ISA_LIMIT 3
#endif

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

// A colour factor that has no exact integer form (see bramquil_sg_factor).
constexpr uint32_t bramquil_no_factor = 0xFFFFFFFFu;

// What depends only on the offset a across the slits: one column of the
// output with column slits, one row with row slits.
struct bramquil_sg_wall {
  bool hole;
  double z;         // perspective depth, 1 at the frame's edge, D at the hole
  double k;         // colour factor
  uint32_t factor;  // k as a 24-bit fraction, or bramquil_no_factor
  uint64_t offset;  // first ring pixel of the slot shown at this depth
};

// A run of n wall pixels of one output row. Columns: b is the row's, and z,
// k, factor, offset are per pixel; every pixel out[i] is also written to its
// mirror image mirror_end[−1 − i]. Rows: b is the first pixel's (one more
// for each next pixel), the others are the row's (pointers to one value),
// and mirror_end is unused.
using bramquil_sg_run = void (*)(const bramquil_sg_frame& f, double b, const double* z,
                                 const double* k, const uint32_t* factor,
                                 const uint64_t* offset, uint32_t* out,
                                 uint32_t* mirror_end, size_t n);
// The integer form of a colour factor, or bramquil_no_factor.
using bramquil_sg_factor_fn = uint32_t (*)(double k);

struct bramquil_sg_kernels {
  bramquil_sg_run run;
  bramquil_sg_factor_fn factor;
};

bramquil_sg_wall bramquil_sg_wall_at(const bramquil_sg_frame& f,
                                     bramquil_sg_factor_fn factor, double a) {
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
  w.factor = factor(w.k);
  return w;
}

// Floored U mod P, folded into a slit position.
//
// Here |b| ≤ S / 2 and z < D ≤ 64 (up to a rounding), so |U| < 2^38 and
// P < 2^34: every integer involved is exact in a double. The quotient is
// estimated as floor(U × fl(1/P)); its relative error is below 2^-51, an
// absolute error far below 1, so the estimate is the true floored quotient q
// or q ± 1, and U − estimate × P is m, m − P or m + P, computed exactly. One
// correction step in each direction gives m, without a 64-bit division.
inline uint64_t bramquil_sg_position(const bramquil_sg_frame& f, double b, double z) {
  const double u = std::floor(((b * z) * f.length) / f.along + f.half_length);
  double m = u - std::floor(u * f.inv_period) * f.period;
  if (m < 0.0)
    m += f.period;
  else if (m >= f.period)
    m -= f.period;
  return uint64_t(m < f.length ? m : f.period_m1 - m);
}

// Colour bytes times k, rounded: trunc(c × k + 0.5) in doubles.
inline uint32_t bramquil_sg_fade(uint32_t px, double k) {
  const uint32_t r = uint32_t(double(px & 0xFF) * k + 0.5);
  const uint32_t g = uint32_t(double((px >> 8) & 0xFF) * k + 0.5);
  const uint32_t bl = uint32_t(double((px >> 16) & 0xFF) * k + 0.5);
  return (px & 0xFF000000u) | r | (g << 8) | (bl << 16);
}

inline uint32_t bramquil_sg_pixel(const bramquil_sg_frame& f, double b, double z,
                                  uint64_t offset, double k) {
  return bramquil_sg_fade(f.ring[offset + bramquil_sg_position(f, b, z)], k);
}

constexpr uint32_t bramquil_black = 0xFF000000u;  // R = G = B = 0, A = 255

template <bool Columns>
void bramquil_sg_run_scalar(const bramquil_sg_frame& f, double b, const double* z,
                            const double* k, const uint32_t*, const uint64_t* offset,
                            uint32_t* out, uint32_t* mirror_end, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if constexpr (Columns)
      out[i] = mirror_end[-1 - ptrdiff_t(i)] = bramquil_sg_pixel(f, b, z[i], offset[i], k[i]);
    else
      out[i] = bramquil_sg_pixel(f, b + double(i), *z, *offset, *k);
  }
}

uint32_t bramquil_sg_factor_none(double) { return bramquil_no_factor; }

#if EFFECTS_ISA_LIMIT >= 2
// The 24-bit fraction K nearest k, if (c × K + 2^23) >> 24 equals
// trunc(c × k + 0.5) in doubles for every byte value c: then the integer
// form gives exactly the bytes of the double one. Checked exhaustively; a
// factor that differs for any c (when c × k + 0.5 lies within about 2^-17 of
// a whole number) keeps the double form.
__attribute__((target("avx2"))) uint32_t bramquil_sg_factor_avx2(double k) {
  const double scaled = k * 16777216.0 + 0.5;
  if (!(scaled >= 0.0 && scaled < 16777217.0)) return bramquil_no_factor;
  const uint32_t factor = uint32_t(scaled);
  const __m256d kv = _mm256_set1_pd(k);
  const __m256d half = _mm256_set1_pd(0.5);
  const __m128i fv = _mm_set1_epi32(int(factor));
  const __m128i bias = _mm_set1_epi32(1 << 23);
  const __m128i four = _mm_set1_epi32(4);
  __m128i c = _mm_setr_epi32(0, 1, 2, 3);
  __m128i differ = _mm_setzero_si128();
  for (int i = 0; i < 256; i += 4) {
    const __m128i exact =
        _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(c), kv), half));
    const __m128i fixed = _mm_srli_epi32(_mm_add_epi32(_mm_mullo_epi32(c, fv), bias), 24);
    differ = _mm_or_si128(differ, _mm_xor_si128(exact, fixed));
    c = _mm_add_epi32(c, four);
  }
  return _mm_testz_si128(differ, differ) ? factor : bramquil_no_factor;
}

// Pixels per block: positions first, then the ring reads, then the colours,
// so that none of the three long dependency chains stalls the others.
constexpr size_t bramquil_sg_block = 64;

// Each lane does the scalar operations in the scalar order, so the bytes are
// the same as bramquil_sg_pixel's.
template <bool Columns>
__attribute__((target("avx2"))) void bramquil_sg_run_avx2(
    const bramquil_sg_frame& f, double b, const double* z, const double* k,
    const uint32_t* factor, const uint64_t* offset, uint32_t* out, uint32_t* mirror_end,
    size_t n) {
  const __m256d length = _mm256_set1_pd(f.length);
  const __m256d along = _mm256_set1_pd(f.along);
  const __m256d half_length = _mm256_set1_pd(f.half_length);
  const __m256d period = _mm256_set1_pd(f.period);
  const __m256d inv_period = _mm256_set1_pd(f.inv_period);
  const __m256d period_m1 = _mm256_set1_pd(f.period_m1);
  const __m256d zero = _mm256_setzero_pd();
  // Adding 2^52 puts a whole number below 2^52 into the low mantissa bits.
  const __m256d magic = _mm256_set1_pd(4503599627370496.0);
  const __m256i magic_bits = _mm256_castpd_si256(magic);
  const __m256i byte_mask = _mm256_set1_epi32(0xFF);
  const __m256i alpha_mask = _mm256_set1_epi32(int(0xFF000000u));
  const __m256i bias = _mm256_set1_epi32(1 << 23);
  const __m256i no_factor = _mm256_set1_epi32(int(bramquil_no_factor));
  const __m256d step = _mm256_set1_pd(4.0);
  const __m256i reversed = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);

  __m256d bv, zv = _mm256_setzero_pd();
  __m256i ov = _mm256_setzero_si256(), fv = _mm256_setzero_si256();
  if constexpr (Columns) {
    bv = _mm256_set1_pd(b);
  } else {
    bv = _mm256_setr_pd(b, b + 1.0, b + 2.0, b + 3.0);
    zv = _mm256_set1_pd(*z);
    ov = _mm256_set1_epi64x(int64_t(*offset));
    fv = _mm256_set1_epi32(int(*factor));
  }

  alignas(32) uint64_t index[bramquil_sg_block];
  alignas(32) uint32_t px[bramquil_sg_block];
  size_t i = 0;
  while (n - i >= 8) {
    const size_t count = std::min(bramquil_sg_block, (n - i) & ~size_t(7));
    for (size_t q = 0; q < count; q += 4) {
      if constexpr (Columns) {
        zv = _mm256_loadu_pd(z + i + q);
        ov = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(offset + i + q));
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
      const __m256i at = _mm256_add_epi64(
          _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(pos, magic)), magic_bits), ov);
      _mm256_store_si256(reinterpret_cast<__m256i*>(index + q), at);
      if constexpr (!Columns) bv = _mm256_add_pd(bv, step);
    }
#pragma GCC unroll 8
    for (size_t q = 0; q < count; ++q) px[q] = f.ring[index[q]];
    for (size_t q = 0; q < count; q += 8) {
      const __m256i p = _mm256_load_si256(reinterpret_cast<const __m256i*>(px + q));
      if constexpr (Columns)
        fv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(factor + i + q));
      if (!_mm256_testz_si256(_mm256_cmpeq_epi32(fv, no_factor),
                              _mm256_cmpeq_epi32(fv, no_factor))) {
        for (size_t e = q; e < q + 8; ++e) {
          out[i + e] = bramquil_sg_fade(px[e], Columns ? k[i + e] : *k);
          if constexpr (Columns) mirror_end[-1 - ptrdiff_t(i + e)] = out[i + e];
        }
        continue;
      }
      const __m256i r = _mm256_and_si256(p, byte_mask);
      const __m256i g = _mm256_and_si256(_mm256_srli_epi32(p, 8), byte_mask);
      const __m256i bl = _mm256_and_si256(_mm256_srli_epi32(p, 16), byte_mask);
      const __m256i ro = _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(r, fv), bias), 24);
      const __m256i go = _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(g, fv), bias), 24);
      const __m256i bo = _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(bl, fv), bias), 24);
      const __m256i result = _mm256_or_si256(
          _mm256_and_si256(p, alpha_mask),
          _mm256_or_si256(ro, _mm256_or_si256(_mm256_slli_epi32(go, 8),
                                              _mm256_slli_epi32(bo, 16))));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + q), result);
      if constexpr (Columns)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(mirror_end - (i + q) - 8),
                            _mm256_permutevar8x32_epi32(result, reversed));
    }
    i += count;
  }
  if constexpr (Columns)
    bramquil_sg_run_scalar<true>(f, b, z + i, k + i, factor + i, offset + i, out + i,
                                 mirror_end - i, n - i);
  else
    bramquil_sg_run_scalar<false>(f, b + double(i), z, k, factor, offset, out + i, nullptr,
                                  n - i);
}
#endif

// Columns handled together with column slits: their per-column values live
// on the stack while every row of the strip is drawn, and the ring lines the
// strip is reading (one slot per column) stay in the first-level cache from
// one row to the next.
constexpr size_t bramquil_sg_strip = 128;

// Column x and column width − 1 − x lie at the same distance from the
// centre line (|a| is the same, exactly), and nothing else about a pixel
// depends on its column: the right half is the mirror image of the left.
void bramquil_sg_columns(const bramquil_sg_frame& f, const bramquil_sg_kernels& kern,
                         uint32_t* out) {
  const size_t w = f.inst->frame_width;
  const size_t h = f.inst->frame_height;
  const size_t drawn = w - w / 2;  // the left half and a middle column
  const double half_w = double(f.inst->frame_width) * 0.5;
  const double half_h = double(f.inst->frame_height) * 0.5;
  double z[bramquil_sg_strip];
  double k[bramquil_sg_strip];
  uint32_t factor[bramquil_sg_strip];
  uint64_t offset[bramquil_sg_strip];
  struct span {
    size_t begin, end;
    bool hole;
  } spans[bramquil_sg_strip];

  // Slots of the next strip, read into the cache while this one is drawn.
  const size_t slot_lines = (size_t(f.inst->slit_length) * sizeof(uint32_t) + 63) / 64;
  uint64_t next_slots[bramquil_sg_strip];

  for (size_t x0 = 0; x0 < drawn; x0 += bramquil_sg_strip) {
    const size_t n = std::min(drawn - x0, bramquil_sg_strip);
    size_t next_count = 0;
    for (size_t x = x0 + n; x < std::min(drawn, x0 + n + bramquil_sg_strip); ++x) {
      const bramquil_sg_wall wall =
          bramquil_sg_wall_at(f, bramquil_sg_factor_none, (double(x) + 0.5) - half_w);
      if (!wall.hole && (next_count == 0 || next_slots[next_count - 1] != wall.offset))
        next_slots[next_count++] = wall.offset;
    }
    const size_t per_row = (next_count * slot_lines + h - 1) / h;
    size_t next_slot = 0, next_line = 0;
    size_t span_count = 0;
    for (size_t i = 0; i < n; ++i) {
      const bramquil_sg_wall wall =
          bramquil_sg_wall_at(f, kern.factor, (double(x0 + i) + 0.5) - half_w);
      z[i] = wall.z;
      k[i] = wall.k;
      factor[i] = wall.factor;
      offset[i] = wall.offset;
      if (span_count > 0 && spans[span_count - 1].hole == wall.hole)
        spans[span_count - 1].end = i + 1;
      else
        spans[span_count++] = {i, i + 1, wall.hole};
    }
    for (size_t y = 0; y < h; ++y) {
      const double b = (double(y) + 0.5) - half_h;
      uint32_t* row = out + y * w;
      for (size_t p = 0; p < per_row && next_slot < next_count; ++p) {
        _mm_prefetch(reinterpret_cast<const char*>(f.ring + next_slots[next_slot]) + 64 * next_line,
                     _MM_HINT_T1);
        if (++next_line == slot_lines) {
          next_line = 0;
          ++next_slot;
        }
      }
      for (size_t s = 0; s < span_count; ++s) {
        const span& sp = spans[s];
        // The middle column of an odd width is its own mirror image.
        const size_t first = x0 + sp.begin;
        if (sp.hole) {
          std::fill(row + first, row + x0 + sp.end, bramquil_black);
          std::fill(row + w - (x0 + sp.end), row + w - first, bramquil_black);
        } else {
          kern.run(f, b, z + sp.begin, k + sp.begin, factor + sp.begin, offset + sp.begin,
                   row + first, row + w - first, sp.end - sp.begin);
        }
      }
    }
  }
}

// Row y and row height − 1 − y are alike in the same way.
void bramquil_sg_rows(const bramquil_sg_frame& f, const bramquil_sg_kernels& kern,
                      uint32_t* out) {
  const size_t w = f.inst->frame_width;
  const size_t h = f.inst->frame_height;
  const double half_w = double(f.inst->frame_width) * 0.5;
  const double half_h = double(f.inst->frame_height) * 0.5;
  for (size_t y = 0; y < h - h / 2; ++y) {
    uint32_t* row = out + y * w;
    const bramquil_sg_wall wall =
        bramquil_sg_wall_at(f, kern.factor, (double(y) + 0.5) - half_h);
    if (wall.hole)
      std::fill(row, row + w, bramquil_black);
    else
      kern.run(f, 0.5 - half_w, &wall.z, &wall.k, &wall.factor, &wall.offset, row, nullptr, w);
    if (h - 1 - y != y) std::memcpy(out + (h - 1 - y) * w, row, w * sizeof(uint32_t));
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
  bramquil_sg_kernels kern{columns ? bramquil_sg_run_scalar<true> : bramquil_sg_run_scalar<false>,
                           bramquil_sg_factor_none};
#if EFFECTS_ISA_LIMIT >= 2
  if (__builtin_cpu_supports("avx2"))
    kern = {columns ? bramquil_sg_run_avx2<true> : bramquil_sg_run_avx2<false>,
            bramquil_sg_factor_avx2};
#endif
  if (columns)
    bramquil_sg_columns(f, kern, out);
  else
    bramquil_sg_rows(f, kern, out);
}
