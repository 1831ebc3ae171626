// Orrelind's kernel set: the alpha-weighted bilinear resampling, the
// per-pixel half of an update, and the source points of a warp whose values
// move from frame to frame. Given the source point of each output pixel
// (sx, sy, already clamped into the frame), the resampling fetches the four
// neighbours and interpolates; the source points worked out in vectors are
// kept only where their bounds prove the bytes of the C library's, and the
// checked resampling says where they do not.
//
// The formulas are written once, in orrelind_resample_body.h and
// orrelind_points_body.h, over a small adapter per instruction set
// (portable C++, SSE2, AVX2, AVX-512, NEON); every adapter gives the bytes
// of the portable one. The set is chosen once, when the library loads
// (orrelind_dispatch.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"
#include "common/isa.h"
#include "orrelind_points.h"

// The frame that all pixel reads of one update come from.
struct orrelind_source_frame {
  const uint32_t* pixels;
  uint32_t width;
  uint32_t height;
};

// Writes dst[i] for i < n: the source resampled at (sx[i], sy[i]), each
// point within 0..width - 1 by 0..height - 1.
using orrelind_resample_fn = void (*)(const orrelind_source_frame& src, const double* sx,
                                      const double* sy, size_t n, uint32_t* dst);

// The resampling of source points worked out in vectors: writes dst[i] as
// orrelind_resample_fn does, and sets bit i of doubt (bit i % 64 of word
// i / 64) where a colour or alpha byte lies so near a rounding boundary
// that a source point within the bound of orrelind_points.h could round it
// the other way: a value v whose byte is that of clamp(v) + 0.5 truncated
// is in doubt when clamp(v) + 0.5 - margin and clamp(v) + 0.5 + margin
// truncate differently, with the plain margin for alpha and for colour
// whose four neighbours share one alpha, the weighted one for the other
// colours. Bits already set stay set.
using orrelind_checked_resample_fn = void (*)(const orrelind_source_frame& src, const double* sx,
                                              const double* sy, size_t n, uint32_t* dst,
                                              const orrelind_byte_margins& margins,
                                              uint64_t* doubt);

// Source points in vector arithmetic, for pixels x .. x + n - 1 of the row
// with offset dy from the centre (dy2 = dy * dy), all inside the circle:
// sx[i], sy[i] clamped into the frame, and bit i of doubt set (the others
// cleared) where the point may not be the C library's to the same x0, y0
// (orrelind_points.h), or the pixel lies on the centre. Writes whole
// vectors: sx and sy need room for n rounded up to orrelind_points_lanes;
// doubt holds n bits rounded up to a 64-bit word. n is at most
// orrelind_points_batch.
using orrelind_points_fn = void (*)(const orrelind_geometry& g, double dy, double dy2, uint32_t x,
                                    size_t n, double* sx, double* sy, uint64_t* doubt);

// The vector functions the source points are made of, for the tests that
// hold them to their bounds (orrelind_trig_body.h): s[i], c[i] = sine and
// cosine of a[i]; c[i], s[i] = cosine and sine of atan2(y[i], x[i]) +
// phi[i]. n a multiple of orrelind_points_lanes.
struct orrelind_trig_fns {
  void (*sincos)(const double* a, size_t n, double* s, double* c);
  void (*turn)(const double* x, const double* y, const double* phi, size_t n, double* c, double* s);
};

// The most lanes any adapter works on at once, and the most source points
// one call works out. Only speed depends on the two, within these limits:
// the doubt bits of a batch fill whole 64-bit words (the callers' arrays
// hold batch / 64 of them), and every adapter's lanes (each adapter's run
// asserts it has at most orrelind_points_lanes) divide the batch.
constexpr size_t orrelind_points_lanes = 8;
constexpr size_t orrelind_points_batch = 128;
static_assert(orrelind_points_batch % 64 == 0, "the doubt words of a batch must be whole");
static_assert(orrelind_points_batch % orrelind_points_lanes == 0 &&
                  (orrelind_points_lanes & (orrelind_points_lanes - 1)) == 0,
              "a batch must be whole vectors of every adapter");

// What a vector adapter has for values that move.
struct orrelind_moving_kernels {
  orrelind_points_fn source_points;
  orrelind_checked_resample_fn resample_checked;
  orrelind_trig_fns trig;
};

struct orrelind_kernel_set {
  // For frames of fewer than 2^31 pixels and at least two columns: the
  // widest adapters index their lanes in 32 bits and read the two
  // neighbours of a row as one.
  orrelind_resample_fn resample;
  // For any frame: indexes in 64 bits and reads every neighbour on its own.
  orrelind_resample_fn resample_any_size;
  // For values that move: source points in vectors and the resampling
  // that checks them, for the frames that resample takes. Null in the
  // portable set, whose source points are the C library's: the judge.
  const orrelind_moving_kernels* moving;
};

// The set of each adapter; only those of the levels this build compiles
// exist. The AVX2 and AVX-512 sets resample frames of any size through
// SSE2's resampling.
extern const orrelind_kernel_set orrelind_portable_kernels, orrelind_sse2_kernels,
    orrelind_avx2_kernels, orrelind_avx512_kernels, orrelind_neon_kernels;
void orrelind_resample_sse2(const orrelind_source_frame& src, const double* sx, const double* sy,
                            size_t n, uint32_t* dst);

// The set of each level this build has (null where it has none), and the
// one for this processor, chosen when the library loaded.
extern const orrelind_kernel_set* const orrelind_kernel_sets[effects::level_count];
const orrelind_kernel_set& orrelind_kernels();

// Whether frames of this size take the set's resample (else
// resample_any_size).
inline bool orrelind_narrow_frame(uint32_t width, uint64_t pixel_count) {
  return width >= 2 && pixel_count < (uint64_t(1) << 31);
}
