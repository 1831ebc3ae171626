// The compositing written once for any vector width. Each kernel source
// defines a vector type V (32-bit lanes, one pixel per lane, and doubles of
// half as many lanes) and includes this file inside its target region and an
// unnamed namespace, so every instantiation stays private to that source.
// This file includes nothing itself: whatever it pulled in would be compiled
// for that target too.
//
// V provides: vi, vd, lanes; load, store, splat, splat_double; bit_and,
// bit_or, and_not (~a & b), add, sub, shift_right<k>, shift_left<k>;
// abs_diff_u8, max_u8 and subs_u8 (saturating) per byte; is_zero (all
// ones where a 32-bit lane is 0); madd16 (signed 16-bit pairs summed into
// 32 bits) and mulhi_u16; less (all ones where a < b, signed 32-bit);
// select (mask ? a : b, bitwise); clamp_byte (signed 32-bit to 0..255);
// pack_i16 (signed saturation of two 32-bit vectors to 16 bits), pack_u8
// (unsigned saturation of two 16-bit vectors to bytes), interleave_u8,
// interleave_u16 and high_half (unpacklo epi8, unpacklo epi16 and unpackhi
// epi64, within each 128-bit lane); low_double, high_double (lanes to
// doubles); truncate (two double halves back to 32-bit lanes, rounding
// toward zero); add_d, sub_d, mul_d, div_d.

template <class V>
struct constants {
  typename V::vd gain, opacity, inverse_opacity, full, half;
  typename V::vi level, level_below, byte, colour;

  explicit constants(const job& work)
      : gain(V::splat_double(work.gain)),
        opacity(V::splat_double(work.opacity)),
        inverse_opacity(V::splat_double(work.inverse_opacity)),
        full(V::splat_double(255.0)),
        half(V::splat_double(0.5)),
        level(V::splat(work.level)),
        level_below(V::splat(static_cast<int32_t>(
            0x01010101u * static_cast<uint32_t>(work.level > 0 ? work.level - 1 : 0)))),
        byte(V::splat(0xFF)),
        colour(V::splat(0x00FFFFFF)) {}
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
  const vi green_alpha =
      V::bit_and(V::template shift_right<8>(p), V::splat(0x00FF00FF));
  const vi sum = V::add(V::add(V::madd16(red_blue, V::splat(299 | (114 << 16))),
                               V::madd16(green_alpha, V::splat(587))),
                        V::splat(500));
  return V::template shift_right<6>(
      V::mulhi_u16(V::template shift_right<3>(sum), V::splat(33555)));
}

// Negative overlay of channel values v over reference values r (0..255):
// byte of v (1 - opacity) + ((v - r) gain + (255 - v)) opacity.
template <class V>
inline typename V::vd overlay_half(typename V::vd v, typename V::vd d,
                                   const constants<V>& c) {
  const typename V::vd kept = V::mul_d(v, c.inverse_opacity);
  const typename V::vd laid =
      V::mul_d(V::add_d(V::mul_d(d, c.gain), V::sub_d(c.full, v)), c.opacity);
  return V::add_d(V::add_d(kept, laid), c.half);
}

// Both return the value before clamping to a byte (assemble clamps): an
// integer within -4335..4590, so a 16-bit saturation keeps it.
template <class V>
inline typename V::vi overlay(typename V::vi v, typename V::vi r,
                              const constants<V>& c) {
  const typename V::vi d = V::sub(v, r);
  return V::truncate(overlay_half(V::low_double(v), V::low_double(d), c),
                     overlay_half(V::high_double(v), V::high_double(d), c));
}

// |d| gain + 0.5, truncated, for magnitudes 0..255.
template <class V>
inline typename V::vi amplified(typename V::vi m, const constants<V>& c) {
  return V::truncate(V::add_d(V::mul_d(V::low_double(m), c.gain), c.half),
                     V::add_d(V::mul_d(V::high_double(m), c.gain), c.half));
}

// byte of (alpha (m gain)) / 255.
template <class V>
inline typename V::vd mask_half(typename V::vd a, typename V::vd m,
                                const constants<V>& c) {
  return V::add_d(V::div_d(V::mul_d(a, V::mul_d(m, c.gain)), c.full), c.half);
}

template <class V>
inline typename V::vi mask_alpha(typename V::vi p, typename V::vi m,
                                 const constants<V>& c) {
  const typename V::vi a = V::template shift_right<24>(p);
  return V::clamp_byte(
      V::truncate(mask_half(V::low_double(a), V::low_double(m), c),
                  mask_half(V::high_double(a), V::high_double(m), c)));
}

// Pixels from four channel vectors of 32-bit lanes, each clamped to 0..255
// by the saturating packs. In every 128-bit lane the packs leave the bytes
// of its four pixels as r r r r b b b b g g g g a a a a; two interleaves
// make r g b a of each pixel.
template <class V>
inline typename V::vi assemble(typename V::vi r, typename V::vi g,
                               typename V::vi b, typename V::vi a) {
  const typename V::vi planes = V::pack_u8(V::pack_i16(r, b), V::pack_i16(g, a));
  const typename V::vi pairs = V::interleave_u8(planes, V::high_half(planes));
  return V::interleave_u16(pairs, V::high_half(pairs));
}

template <class V, mode_kind mode, bool threshold>
inline typename V::vi block_luma(typename V::vi cur, typename V::vi ref,
                                 const constants<V>& c) {
  using vi = typename V::vi;
  const vi lc = luma<V>(cur);
  vi lr = luma<V>(ref);
  vi m = V::abs_diff_u8(lc, lr);
  if (threshold) {
    const vi quiet = V::less(m, c.level);
    lr = V::select(quiet, lc, lr);
    m = V::and_not(quiet, m);
  }
  const vi alpha = V::template shift_right<24>(cur);
  switch (mode) {
    case mode_kind::negative_overlay: {
      const vi t = overlay<V>(lc, lr, c);
      return assemble<V>(t, t, t, alpha);
    }
    case mode_kind::absolute_difference: {
      const vi t = amplified<V>(m, c);
      return assemble<V>(t, t, t, alpha);
    }
    case mode_kind::motion_mask:
      break;
  }
  return assemble<V>(lc, lc, lc, mask_alpha<V>(cur, m, c));
}

template <class V, mode_kind mode, bool threshold>
inline typename V::vi block_colour(typename V::vi cur, typename V::vi ref,
                                   const constants<V>& c) {
  using vi = typename V::vi;
  vi diff = V::abs_diff_u8(cur, ref);
  vi m = V::splat(0);
  if (mode == mode_kind::motion_mask) {
    m = V::bit_and(
        V::max_u8(V::max_u8(diff, V::template shift_right<8>(diff)),
                  V::template shift_right<16>(diff)),
        c.byte);
  }
  if (threshold) {
    // Quiet: no colour difference reaches the level. A quiet pixel compares
    // with itself, so every difference becomes 0.
    const vi quiet =
        V::is_zero(V::bit_and(V::subs_u8(diff, c.level_below), c.colour));
    ref = V::select(quiet, cur, ref);
    diff = V::and_not(quiet, diff);
    m = V::and_not(quiet, m);
  }
  const vi alpha = V::template shift_right<24>(cur);
  switch (mode) {
    case mode_kind::negative_overlay:
      return assemble<V>(
          overlay<V>(channel<V, 0>(cur, c), channel<V, 0>(ref, c), c),
          overlay<V>(channel<V, 1>(cur, c), channel<V, 1>(ref, c), c),
          overlay<V>(channel<V, 2>(cur, c), channel<V, 2>(ref, c), c), alpha);
    case mode_kind::absolute_difference:
      return assemble<V>(amplified<V>(channel<V, 0>(diff, c), c),
                         amplified<V>(channel<V, 1>(diff, c), c),
                         amplified<V>(channel<V, 2>(diff, c), c), alpha);
    case mode_kind::motion_mask:
      break;
  }
  return V::bit_or(V::bit_and(cur, c.colour),
                   V::template shift_left<24>(mask_alpha<V>(cur, m, c)));
}

template <class V, mode_kind mode, bool monochrome, bool threshold>
void composite(const job& work) {
  const constants<V> c(work);
  const size_t whole = work.pixels - work.pixels % V::lanes;
  for (size_t i = 0; i < whole; i += V::lanes) {
    const typename V::vi cur = V::load(work.in + i);
    V::store(work.current + i, cur);
    const typename V::vi ref = V::load(work.reference + i);
    V::store(work.out + i, monochrome
                               ? block_luma<V, mode, threshold>(cur, ref, c)
                               : block_colour<V, mode, threshold>(cur, ref, c));
  }
  composite_plain(work, whole);
}

template <class V>
constexpr kernel_set make_kernels() {
  kernel_set set{};
  set.by_mode[0][0][0] = &composite<V, mode_kind::negative_overlay, false, false>;
  set.by_mode[0][0][1] = &composite<V, mode_kind::negative_overlay, false, true>;
  set.by_mode[0][1][0] = &composite<V, mode_kind::negative_overlay, true, false>;
  set.by_mode[0][1][1] = &composite<V, mode_kind::negative_overlay, true, true>;
  set.by_mode[1][0][0] = &composite<V, mode_kind::absolute_difference, false, false>;
  set.by_mode[1][0][1] = &composite<V, mode_kind::absolute_difference, false, true>;
  set.by_mode[1][1][0] = &composite<V, mode_kind::absolute_difference, true, false>;
  set.by_mode[1][1][1] = &composite<V, mode_kind::absolute_difference, true, true>;
  set.by_mode[2][0][0] = &composite<V, mode_kind::motion_mask, false, false>;
  set.by_mode[2][0][1] = &composite<V, mode_kind::motion_mask, false, true>;
  set.by_mode[2][1][0] = &composite<V, mode_kind::motion_mask, true, false>;
  set.by_mode[2][1][1] = &composite<V, mode_kind::motion_mask, true, true>;
  return set;
}
