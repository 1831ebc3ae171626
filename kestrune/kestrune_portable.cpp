// The compositing kernels in portable C++, one pixel a step, for any
// processor and either byte order: what a build without vector code uses
// alone, and what the vector kernels finish each frame's last partial block
// with. The adapter follows the vector instructions lane for lane, with a
// 32-bit vector whose "128-bit lane" is the whole word.
#include "kestrune_dispatch.h"

namespace {

#include "common/scalar_ops.h"

struct portable : scalar_lanes {
  static constexpr size_t lanes = 1;
  static constexpr bool bit_overlay = false;

  // Byte k of a pixel at bits 8k, in either byte order.
  static vi load(const uint32_t* p) { return effects::pixel_word(*p); }
  static void store(uint32_t* p, vi v) { *p = effects::pixel_word(v); }
  using count = int;  // a shift count, made once
  static count shift_count(int k) { return k; }
  // Rounds toward minus infinity, as the vector instructions do.
  static vi shift_right_signed(vi a, count k) { return (a & 0x80000000u) ? ~(~a >> k) : a >> k; }

  static uint32_t byte(vi a, int k) { return (a >> (8 * k)) & 0xFFu; }
  static int32_t signed_half(vi a, int k) {
    const int32_t h = static_cast<int32_t>((a >> (16 * k)) & 0xFFFFu);
    return h >= 0x8000 ? h - 0x10000 : h;
  }
  static int32_t as_signed(vi a) {
    return (a & 0x80000000u) ? -static_cast<int32_t>(~a) - 1 : static_cast<int32_t>(a);
  }
  template <class F>
  static vi per_byte(vi a, vi b, F f) {
    vi out = 0;
    for (int k = 0; k < 4; ++k) out |= (f(byte(a, k), byte(b, k)) & 0xFFu) << (8 * k);
    return out;
  }
  static vi abs_diff_u8(vi a, vi b) {
    return per_byte(a, b, [](uint32_t x, uint32_t y) { return x > y ? x - y : y - x; });
  }
  static vi max_u8(vi a, vi b) {
    return per_byte(a, b, [](uint32_t x, uint32_t y) { return x > y ? x : y; });
  }
  static vi subs_u8(vi a, vi b) {
    return per_byte(a, b, [](uint32_t x, uint32_t y) { return x > y ? x - y : 0u; });
  }
  static vi is_zero(vi a) { return a == 0 ? ~0u : 0u; }
  static bool any(vi a) { return a != 0; }
  static vi madd16(vi a, vi b) {
    const int64_t sum = int64_t(signed_half(a, 0)) * signed_half(b, 0) +
                        int64_t(signed_half(a, 1)) * signed_half(b, 1);
    return static_cast<uint32_t>(sum);
  }
  static vi mulhi_u16(vi a, vi b) {
    const uint32_t low = ((a & 0xFFFFu) * (b & 0xFFFFu)) >> 16;
    const uint32_t high = ((a >> 16) * (b >> 16)) >> 16;
    return low | (high << 16);
  }
  static vi less(vi a, vi b) { return as_signed(a) < as_signed(b) ? ~0u : 0u; }
  static vi min_i32(vi a, vi b) { return as_signed(a) < as_signed(b) ? a : b; }
  static vi max_i32(vi a, vi b) { return as_signed(a) > as_signed(b) ? a : b; }
  static vi select(vi mask, vi a, vi b) { return (mask & a) | (~mask & b); }
  static vi clamp_byte(vi a) {
    const int32_t s = as_signed(a);
    return s < 0 ? 0u : s > 255 ? 255u : static_cast<uint32_t>(s);
  }
  static uint32_t saturate(int32_t x, int32_t low, int32_t high) {
    return static_cast<uint32_t>(x < low ? low : x > high ? high : x);
  }
  static vi pack_i16(vi a, vi b) {
    return (saturate(as_signed(a), -32768, 32767) & 0xFFFFu) |
           (saturate(as_signed(b), -32768, 32767) << 16);
  }
  static vi pack_u8(vi a, vi b) {
    return saturate(signed_half(a, 0), 0, 255) | saturate(signed_half(a, 1), 0, 255) << 8 |
           saturate(signed_half(b, 0), 0, 255) << 16 | saturate(signed_half(b, 1), 0, 255) << 24;
  }
  static vi interleave_u8(vi a, vi b) {
    return byte(a, 0) | byte(b, 0) << 8 | byte(a, 1) << 16 | byte(b, 1) << 24;
  }
  static vi interleave_u16(vi a, vi b) { return (a & 0xFFFFu) | (b << 16); }
  static vi high_half(vi a) { return (a >> 16) | (a & 0xFFFF0000u); }
  static vd low_double(vi a) { return static_cast<double>(as_signed(a)); }
  static vd high_double(vi) { return 0.0; }
  static vi truncate(vd low, vd) { return static_cast<uint32_t>(static_cast<int32_t>(low)); }
};

#include "kestrune_body.h"

}  // namespace

extern const kestrune_kernel_set kestrune_portable_kernels = make_kernels<portable>();

