// The compositing in doubles, written once for any vector width: the exact
// formulas, and the only place they live. "The doubles" in this folder
// means these formulas evaluated operation by operation as written, each
// operation rounded on its own; every byte kestrune writes is the byte they
// give. (The integer form of kestrune_fitted.h only reaches the same bytes
// faster.)
//
// Included by kestrune_body.h; like it, this file includes nothing.
//
// V provides the shared operations and kestrune's own, with the meanings
// common/operations.md gives them; V::bit_overlay says whether it also has
// those of overlay_by_bits (the gain-1 colour overlay in double lanes filled
// from integer bits).

template <class V>
struct constants {
  typename V::vd gain, opacity, inverse_opacity, full, half;
  // For overlay_by_bits: the offsets of products by opacity and
  // 1 - opacity (exact: scaling by a power of two).
  typename V::vd opacity_offset, inverse_offset;
  typename V::vi level, level_below, byte, colour;
  bool unit_gain;

  explicit constants(const kestrune_job& work)
      : gain(V::splat_d(work.gain)),
        opacity(V::splat_d(work.opacity)),
        inverse_opacity(V::splat_d(work.inverse_opacity)),
        full(V::splat_d(255.0)),
        half(V::splat_d(0.5)),
        opacity_offset(V::splat_d(-0x1p52 * work.opacity)),
        inverse_offset(V::splat_d(-0x1p52 * work.inverse_opacity)),
        level(V::splat(work.level)),
        level_below(V::splat(static_cast<int32_t>(
            0x01010101u * static_cast<uint32_t>(work.level > 0 ? work.level - 1 : 0)))),
        byte(V::splat(0xFF)),
        colour(V::splat(0x00FFFFFF)),
        unit_gain(work.gain == 1.0) {}
};

template <class V, int k>
inline typename V::vi channel(typename V::vi p, const constants<V>& c) {
  return V::bit_and(V::template shift_right<8 * k>(p), c.byte);
}

// (299 r + 587 g + 114 b + 500) / 1000 per pixel. The sum is below 2^18;
// dividing it by 8 first (exact as floor of floor) leaves a 15-bit value
// that a 16-bit multiply by ceil(2^22 / 125) and a shift divide by 125
// exactly over that whole range.
template <class V>
inline typename V::vi luma(typename V::vi p) {
  using vi = typename V::vi;
  const vi red_blue = V::bit_and(p, V::splat(0x00FF00FF));
  const vi green_alpha = V::bit_and(V::template shift_right<8>(p), V::splat(0x00FF00FF));
  const vi sum = V::add(V::add(V::madd16(red_blue, V::splat(299 | (114 << 16))),
                               V::madd16(green_alpha, V::splat(587))),
                        V::splat(500));
  return V::template shift_right<6>(V::mulhi_u16(V::template shift_right<3>(sum), V::splat(33555)));
}

// Negative overlay of channel values v over reference values r (0..255):
// byte of v (1 - opacity) + ((v - r) gain + (255 - v)) opacity, the inner
// sum given as `laid`.
template <class V>
inline typename V::vd overlay_plus_half(typename V::vd v, typename V::vd laid,
                                        const constants<V>& c) {
  return V::add_d(V::add_d(V::mul_d(v, c.inverse_opacity), V::mul_d(laid, c.opacity)), c.half);
}

template <class V>
inline typename V::vd laid_over(typename V::vd v, typename V::vd d, const constants<V>& c) {
  return V::add_d(V::mul_d(d, c.gain), V::sub_d(c.full, v));
}

// The value before clamping to a byte (assemble clamps): an integer within
// -4335..4590, so a 16-bit saturation keeps it.
template <class V>
inline typename V::vi overlay(typename V::vi v, typename V::vi r, const constants<V>& c) {
  const typename V::vi d = V::sub(v, r);
  return V::truncate(
      overlay_plus_half(V::low_double(v), laid_over(V::low_double(v), V::low_double(d), c), c),
      overlay_plus_half(V::high_double(v), laid_over(V::high_double(v), V::high_double(d), c), c));
}

// The colour overlay at gain 1 with double lanes filled from integer bits.
// Each pixel word is widened to 64 bits once; a channel's byte becomes the
// double 2^52 + byte by a mask and an or; a fused multiply-add takes its
// product with a weight less 2^52 times the weight, which is the exact
// product, and rounds it once, as the conversion and the multiply do. A
// round-down add of 2^52 then leaves the byte in the low bits. No
// conversion instruction is left, and those are the slowest part of the
// doubles on machines with wide vectors. The operations and their order are the
// overlay's: v (1 - opacity) + (255 - r) opacity + 0.5, 255 - r being the
// exact sum (v - r) + (255 - v) at gain 1. Both products lie in 0..255 and
// sum to at most 255 (plus rounding), so no clamp is needed. Other gains
// keep the conversions: there the inner sum has roundings of its own and
// the bits would save little.
template <class V, int k>
__attribute__((always_inline)) inline typename V::vq overlay_channel(typename V::vq cur,
                                                                     typename V::vq ref,
                                                                     const constants<V>& c) {
  const typename V::vd kept =
      V::product(V::template biased_byte<k, false>(cur), c.inverse_opacity, c.inverse_offset);
  const typename V::vd laid =
      V::product(V::template biased_byte<k, true>(ref), c.opacity, c.opacity_offset);
  return V::floor_bits(V::add_d(V::add_d(kept, laid), c.half));
}

template <class V>
__attribute__((always_inline)) inline typename V::vq overlay_pixels(typename V::vq cur,
                                                                    typename V::vq ref,
                                                                    const constants<V>& c) {
  return V::join_bytes(overlay_channel<V, 0>(cur, ref, c), overlay_channel<V, 1>(cur, ref, c),
                       overlay_channel<V, 2>(cur, ref, c));
}

// The overlay's colours with the current alpha. This and the block
// functions are inlined whole: out of line, their constants would pass
// through memory on every block.
template <class V>
__attribute__((always_inline)) inline typename V::vi overlay_by_bits(typename V::vi cur,
                                                                     typename V::vi ref,
                                                                     const constants<V>& c) {
  const typename V::vi colours =
      V::low_halves(overlay_pixels<V>(V::spread_low(cur), V::spread_low(ref), c),
                    overlay_pixels<V>(V::spread_high(cur), V::spread_high(ref), c));
  return V::select(c.colour, colours, cur);
}

// |d| gain + 0.5, truncated, for magnitudes 0..255.
template <class V>
inline typename V::vi amplified(typename V::vi m, const constants<V>& c) {
  return V::truncate(V::add_d(V::mul_d(V::low_double(m), c.gain), c.half),
                     V::add_d(V::mul_d(V::high_double(m), c.gain), c.half));
}

// byte of (alpha (m gain)) / 255.
template <class V>
inline typename V::vd mask_half(typename V::vd a, typename V::vd m, const constants<V>& c) {
  return V::add_d(V::div_d(V::mul_d(a, V::mul_d(m, c.gain)), c.full), c.half);
}

template <class V>
inline typename V::vi mask_value(typename V::vi a, typename V::vi m, const constants<V>& c) {
  return V::clamp_byte(V::truncate(mask_half(V::low_double(a), V::low_double(m), c),
                                   mask_half(V::high_double(a), V::high_double(m), c)));
}

// Pixels from four channel vectors of 32-bit lanes, each clamped to 0..255
// by the saturating packs. In every 128-bit lane the packs leave the bytes
// of its four pixels as r r r r b b b b g g g g a a a a; two interleaves
// make r g b a of each pixel.
template <class V>
inline typename V::vi assemble(typename V::vi r, typename V::vi g, typename V::vi b,
                               typename V::vi a) {
  const typename V::vi planes = V::pack_u8(V::pack_i16(r, b), V::pack_i16(g, a));
  const typename V::vi pairs = V::interleave_u8(planes, V::high_half(planes));
  return V::interleave_u16(pairs, V::high_half(pairs));
}

// All ones in the pixels where no colour difference reaches the level: such
// a pixel counts as unchanged, compared with itself.
template <class V>
inline typename V::vi quiet_colour(typename V::vi diff, const constants<V>& c) {
  return V::is_zero(V::bit_and(V::subs_u8(diff, c.level_below), c.colour));
}

// The lumas lc and lr of the current and reference pixels and the magnitude
// m of their difference; where it is below the level the pixel counts as
// unchanged, compared with itself.
template <class V, bool threshold>
inline void compare_lumas(typename V::vi cur, typename V::vi ref, const constants<V>& c,
                          typename V::vi& lc, typename V::vi& lr, typename V::vi& m) {
  lc = luma<V>(cur);
  lr = luma<V>(ref);
  m = V::abs_diff_u8(lc, lr);
  if (threshold) {
    const typename V::vi quiet = V::less(m, c.level);
    lr = V::select(quiet, lc, lr);
    m = V::and_not(quiet, m);
  }
}

template <class V, kestrune_mode mode, bool threshold>
__attribute__((always_inline)) inline typename V::vi block_luma(typename V::vi cur,
                                                                typename V::vi ref,
                                                                const constants<V>& c) {
  using vi = typename V::vi;
  vi lc, lr, m;
  compare_lumas<V, threshold>(cur, ref, c, lc, lr, m);
  const vi alpha = V::template shift_right<24>(cur);
  switch (mode) {
    case kestrune_mode::negative_overlay: {
      const vi t = overlay<V>(lc, lr, c);
      return assemble<V>(t, t, t, alpha);
    }
    case kestrune_mode::absolute_difference: {
      const vi t = amplified<V>(m, c);
      return assemble<V>(t, t, t, alpha);
    }
    case kestrune_mode::motion_mask:
      break;
  }
  return assemble<V>(lc, lc, lc, mask_value<V>(alpha, m, c));
}

template <class V, kestrune_mode mode, bool threshold>
__attribute__((always_inline)) inline typename V::vi block_colour(typename V::vi cur,
                                                                  typename V::vi ref,
                                                                  const constants<V>& c) {
  using vi = typename V::vi;
  vi diff = V::abs_diff_u8(cur, ref);
  vi m = V::splat(0);
  if (mode == kestrune_mode::motion_mask) {
    m = V::bit_and(V::max_u8(V::max_u8(diff, V::template shift_right<8>(diff)),
                             V::template shift_right<16>(diff)),
                   c.byte);
  }
  if (threshold) {
    const vi quiet = quiet_colour<V>(diff, c);
    ref = V::select(quiet, cur, ref);
    diff = V::and_not(quiet, diff);
    m = V::and_not(quiet, m);
  }
  if constexpr (V::bit_overlay) {
    if (mode == kestrune_mode::negative_overlay && c.unit_gain) return overlay_by_bits<V>(cur, ref, c);
  }
  const vi alpha = V::template shift_right<24>(cur);
  switch (mode) {
    case kestrune_mode::negative_overlay:
      return assemble<V>(overlay<V>(channel<V, 0>(cur, c), channel<V, 0>(ref, c), c),
                         overlay<V>(channel<V, 1>(cur, c), channel<V, 1>(ref, c), c),
                         overlay<V>(channel<V, 2>(cur, c), channel<V, 2>(ref, c), c), alpha);
    case kestrune_mode::absolute_difference:
      return assemble<V>(amplified<V>(channel<V, 0>(diff, c), c),
                         amplified<V>(channel<V, 1>(diff, c), c),
                         amplified<V>(channel<V, 2>(diff, c), c), alpha);
    case kestrune_mode::motion_mask:
      break;
  }
  return V::bit_or(V::bit_and(cur, c.colour),
                   V::template shift_left<24>(mask_value<V>(alpha, m, c)));
}
