// The compositing written once for any vector width, and the only place its
// formulas live. Each kernel source defines an adapter V and includes this
// file inside its target region and an unnamed namespace, so every
// instantiation stays private to that source. This file includes nothing
// itself: whatever it pulled in would be compiled for that target too.
//
// V has 32-bit lanes holding one pixel each (byte k at bits 8k, see
// pixel_word) and doubles of half as many lanes; with a single lane,
// high_double gives a value that truncate ignores. V provides: vi, vd,
// lanes; load, store (pixels), splat, splat_double; bit_and, bit_or,
// bit_xor, and_not (~a & b), add, sub, mul_lo (low 32 bits of the product),
// shift_right<k>, shift_left<k>, shift_right_signed(a, shift_count(k))
// (rounding down; count is the adapter's type for a shift count made once);
// abs_diff_u8, max_u8 and subs_u8 (saturating) per byte; is_zero (all ones
// where a 32-bit lane is 0), any (some bit set in some lane); madd16 (signed
// 16-bit pairs summed into 32 bits) and mulhi_u16; less (all ones where
// a < b, signed 32-bit), min_i32, max_i32; select (mask ? a : b, bitwise);
// clamp_byte (signed 32-bit to 0..255); pack_i16 (signed saturation of two
// 32-bit vectors to 16 bits), pack_u8 (unsigned saturation of two 16-bit
// vectors to bytes), interleave_u8, interleave_u16 and high_half (unpacklo epi8,
// unpacklo epi16 and unpackhi epi64, within each 128-bit lane, or within the
// whole vector when it is narrower); low_double, high_double (lanes to
// doubles); truncate (two double halves back to 32-bit lanes, rounding
// toward zero); add_d, sub_d, mul_d, div_d.
//
// V::wide says whether V also fills double lanes from integer bits, for the
// colour overlay (overlay_wide). Only then it provides vw (64-bit lanes,
// one pixel word in the low half of each); spread_low and spread_high (the
// pixels of the low and high double half, zero-extended); biased_byte<k,
// inverted> (the double 2^52 + byte k, or 2^52 + 255 - byte k); product
// (b, w, offset) with offset = -2^52 w, giving fl((b - 2^52) w) in one
// rounding; floor_bits (floor(x) in the low 32 bits of a lane, for
// 0 <= x < 2^31); join_bytes (b0 | b1 << 8 | b2 << 16 for three floor_bits
// of 0..255); narrow (the low 32 bits of two vw, as vi).

// A gain that is a whole number (1, 2, 4, 8 or 16 for Contrast 0, 0.25,
// 0.5, 0.75 and 1) makes (v - r) gain + 255 - v an integer.
inline bool whole(double gain) { return gain == static_cast<double>(static_cast<int32_t>(gain)); }

template <class V>
struct constants {
  typename V::vd gain, opacity, inverse_opacity, full, half;
  // For the wide overlay: the offsets of products by opacity and
  // 1 - opacity (exact: scaling by a power of two).
  typename V::vd opacity_offset, inverse_offset;
  typename V::vi level, level_below, byte, colour, whole_gain, full_value;
  bool gain_is_whole, unit_gain;

  explicit constants(const job& work)
      : gain(V::splat_double(work.gain)),
        opacity(V::splat_double(work.opacity)),
        inverse_opacity(V::splat_double(work.inverse_opacity)),
        full(V::splat_double(255.0)),
        half(V::splat_double(0.5)),
        opacity_offset(V::splat_double(-0x1p52 * work.opacity)),
        inverse_offset(V::splat_double(-0x1p52 * work.inverse_opacity)),
        level(V::splat(work.level)),
        level_below(V::splat(static_cast<int32_t>(
            0x01010101u * static_cast<uint32_t>(work.level > 0 ? work.level - 1 : 0)))),
        byte(V::splat(0xFF)),
        colour(V::splat(0x00FFFFFF)),
        whole_gain(V::splat(whole(work.gain) ? static_cast<int32_t>(work.gain) : 0)),
        full_value(V::splat(255)),
        gain_is_whole(whole(work.gain)),
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
inline typename V::vd overlay_half(typename V::vd v, typename V::vd laid, const constants<V>& c) {
  return V::add_d(V::add_d(V::mul_d(v, c.inverse_opacity), V::mul_d(laid, c.opacity)), c.half);
}

template <class V>
inline typename V::vd laid_half(typename V::vd v, typename V::vd d, const constants<V>& c) {
  return V::add_d(V::mul_d(d, c.gain), V::sub_d(c.full, v));
}

// Both return the value before clamping to a byte (assemble clamps): an
// integer within -4335..4590, so a 16-bit saturation keeps it. With a whole
// gain the inner sum is formed in integers: the doubles hold it exactly,
// so it is the same number.
template <class V>
inline typename V::vi overlay(typename V::vi v, typename V::vi r, const constants<V>& c) {
  const typename V::vi d = V::sub(v, r);
  if (c.gain_is_whole) {
    const typename V::vi laid = V::add(V::mul_lo(d, c.whole_gain), V::sub(c.full_value, v));
    return V::truncate(overlay_half(V::low_double(v), V::low_double(laid), c),
                       overlay_half(V::high_double(v), V::high_double(laid), c));
  }
  return V::truncate(
      overlay_half(V::low_double(v), laid_half(V::low_double(v), V::low_double(d), c), c),
      overlay_half(V::high_double(v), laid_half(V::high_double(v), V::high_double(d), c), c));
}

// The colour overlay at gain 1 with double lanes filled from integer bits.
// Each pixel word is widened to 64 bits once; a channel's byte becomes the
// double 2^52 + byte by a mask and an or; a fused multiply-add takes its
// product with a weight less 2^52 times the weight, which is the exact
// product, and rounds it once, as the conversion and the multiply do. A
// round-down add of 2^52 then leaves the byte in the low bits. No
// conversion instruction is left, and those are the slowest part of the
// doubles on wide machines. The operations and their order are the
// overlay's: v (1 - opacity) + (255 - r) opacity + 0.5, 255 - r being the
// exact sum (v - r) + (255 - v) at gain 1. Both products lie in 0..255 and
// sum to at most 255 (plus rounding), so no clamp is needed. Other gains
// keep the conversions: there the inner sum has roundings of its own and
// the bits would save little.
template <class V, int k>
__attribute__((always_inline)) inline typename V::vw overlay_channel(typename V::vw cur,
                                                                     typename V::vw ref,
                                                                     const constants<V>& c) {
  const typename V::vd kept =
      V::product(V::template biased_byte<k, false>(cur), c.inverse_opacity, c.inverse_offset);
  const typename V::vd laid =
      V::product(V::template biased_byte<k, true>(ref), c.opacity, c.opacity_offset);
  return V::floor_bits(V::add_d(V::add_d(kept, laid), c.half));
}

template <class V>
__attribute__((always_inline)) inline typename V::vw overlay_pixels(typename V::vw cur,
                                                                    typename V::vw ref,
                                                                    const constants<V>& c) {
  return V::join_bytes(overlay_channel<V, 0>(cur, ref, c), overlay_channel<V, 1>(cur, ref, c),
                       overlay_channel<V, 2>(cur, ref, c));
}

// The overlay's colours with the current alpha. This and the block
// functions are inlined whole: out of line, their constants would pass
// through memory on every block.
template <class V>
__attribute__((always_inline)) inline typename V::vi overlay_wide(typename V::vi cur,
                                                                  typename V::vi ref,
                                                                  const constants<V>& c) {
  const typename V::vi colours =
      V::narrow(overlay_pixels<V>(V::spread_low(cur), V::spread_low(ref), c),
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

template <class V, mode_kind mode, bool threshold>
__attribute__((always_inline)) inline typename V::vi block_luma(typename V::vi cur,
                                                                typename V::vi ref,
                                                                const constants<V>& c) {
  using vi = typename V::vi;
  vi lc, lr, m;
  compare_lumas<V, threshold>(cur, ref, c, lc, lr, m);
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
  return assemble<V>(lc, lc, lc, mask_value<V>(alpha, m, c));
}

template <class V, mode_kind mode, bool threshold>
__attribute__((always_inline)) inline typename V::vi block_colour(typename V::vi cur,
                                                                  typename V::vi ref,
                                                                  const constants<V>& c) {
  using vi = typename V::vi;
  vi diff = V::abs_diff_u8(cur, ref);
  vi m = V::splat(0);
  if (mode == mode_kind::motion_mask) {
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
  if constexpr (V::wide) {
    if (mode == mode_kind::negative_overlay && c.unit_gain) return overlay_wide<V>(cur, ref, c);
  }
  const vi alpha = V::template shift_right<24>(cur);
  switch (mode) {
    case mode_kind::negative_overlay:
      return assemble<V>(overlay<V>(channel<V, 0>(cur, c), channel<V, 0>(ref, c), c),
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
                   V::template shift_left<24>(mask_value<V>(alpha, m, c)));
}

// The integer forms. The overlay is
//   v (1 - opacity) + ((v - r) gain + 255 - v) opacity
//   = v ((1 - opacity) - opacity) + (v - r) (gain opacity) + 255 opacity,
// so with each weight rounded to 2^-bits the estimate is off by at most
// 255.5 units (the difference, |d| gain, by at most 128), and the doubles'
// own rounding is far below one unit. Which values it gets wrong is not
// derived from that bound but found by comparison with the doubles (fit).
// Magnitudes stay below 2^31: at 18 bits, 255 * 2^18 + 255 * 16 * 2^18 +
// 255.5 * 2^18 < 1.2e9; the overlay's bits are chosen for its own weights.
inline int32_t fixed_point(double x, int bits) {
  const double scaled = x * static_cast<double>(int32_t(1) << bits);
  return static_cast<int32_t>(scaled < 0.0 ? scaled - 0.5 : scaled + 0.5);
}

// The most bits, up to 24, at which the overlay's terms (at most `most`
// units of one), their weights' rounding (255.5 units) and a margin (below
// half of one) stay below 2^31 in magnitude. At 18 they always do.
inline int overlay_bits(const job& work) {
  const double spread = work.inverse_opacity - work.opacity;
  const double most = 255.0 * (spread < 0.0 ? -spread : spread) + 255.0 * work.gain * work.opacity +
                      255.0 * work.opacity + 0.5;
  int bits = fit_bits;
  while (bits < 24 &&
         (most + 1.0) * static_cast<double>(int64_t(1) << (bits + 1)) + 256.0 < 2147483648.0)
    ++bits;
  return bits;
}

template <mode_kind mode>
inline integer_fit unchecked_fit(const job& work) {
  integer_fit fit{};
  fit.bits = fit_bits;
  if (mode == mode_kind::negative_overlay) {
    fit.bits = overlay_bits(work);
    fit.current_weight = fixed_point(work.inverse_opacity - work.opacity, fit.bits);
    fit.difference_weight = fixed_point(work.gain * work.opacity, fit.bits);
    fit.offset = fixed_point(255.0 * work.opacity + 0.5, fit.bits);
  } else if (mode == mode_kind::absolute_difference) {
    fit.difference_weight = fixed_point(work.gain, fit_bits);
    fit.offset = fixed_point(0.5, fit_bits);
  } else {
    // gain / 255 in units of 2^-34 is below 2^31; a m is below 2^16, so
    // each part of the product stays within 32 unsigned bits.
    const int32_t weight = static_cast<int32_t>(
        work.gain / 255.0 * static_cast<double>(int64_t(1) << (fit_bits + 16)) + 0.5);
    fit.product_weight = weight >> 16;
    fit.product_fraction = weight & 0xFFFF;
    fit.offset = fixed_point(0.5, fit_bits);
  }
  return fit;
}

template <class V>
struct fit_constants {
  typename V::vi current_weight, difference_weight, product_weight, product_fraction, offset,
      margin, whole;
  typename V::count bits;

  explicit fit_constants(const integer_fit& fit)
      : current_weight(V::splat(fit.current_weight)),
        difference_weight(V::splat(fit.difference_weight)),
        product_weight(V::splat(fit.product_weight)),
        product_fraction(V::splat(fit.product_fraction)),
        offset(V::splat(fit.offset)),
        margin(V::splat(fit.margin)),
        whole(V::splat(~((int32_t(1) << fit.bits) - 1))),
        bits(V::shift_count(fit.bits)) {}
};

// The difference of magnitude m.
template <class V>
inline typename V::vi scaled(typename V::vi m, const fit_constants<V>& f) {
  return V::add(V::mul_lo(m, f.difference_weight), f.offset);
}

// The overlay of v over r.
template <class V>
inline typename V::vi estimate(typename V::vi v, typename V::vi r, const fit_constants<V>& f) {
  return V::add(V::mul_lo(v, f.current_weight), scaled<V>(V::sub(v, r), f));
}

// The mask's alpha from alpha a and magnitude m.
template <class V>
inline typename V::vi multiplied(typename V::vi a, typename V::vi m, const fit_constants<V>& f) {
  const typename V::vi p = V::mul_lo(a, m);
  return V::add(V::add(V::mul_lo(p, f.product_weight),
                       V::template shift_right<16>(V::mul_lo(p, f.product_fraction))),
                f.offset);
}

// One mode's estimate for the pair (v, r): current and reference value,
// magnitude and (0), or alpha and magnitude.
template <class V, mode_kind mode>
inline typename V::vi estimated(typename V::vi v, typename V::vi r, const fit_constants<V>& f) {
  switch (mode) {
    case mode_kind::negative_overlay:
      return estimate<V>(v, r, f);
    case mode_kind::absolute_difference:
      return scaled<V>(v, f);
    case mode_kind::motion_mask:
      break;
  }
  return multiplied<V>(v, r, f);
}

// Bits at or above the fit's bits are set where a byte boundary lies within
// the margin of the estimate x (the integer parts of x - margin and
// x + margin differ), so the estimate cannot be trusted there.
template <class V>
inline typename V::vi doubt(typename V::vi x, const fit_constants<V>& f) {
  return V::bit_xor(V::add(x, f.margin), V::sub(x, f.margin));
}

// A block by the mode's integer form; false when some value of the block is
// in doubt, and the block must be computed in doubles. The colour overlay
// instead mends the values in doubt itself and always succeeds.
template <class V, mode_kind mode, bool monochrome, bool threshold>
inline bool fitted_block(typename V::vi cur, typename V::vi ref, const constants<V>& c,
                         const fit_constants<V>& f, typename V::vi& out) {
  using vi = typename V::vi;
  const vi alpha = V::template shift_right<24>(cur);
  if (monochrome) {
    vi lc, lr, m;
    compare_lumas<V, threshold>(cur, ref, c, lc, lr, m);
    const vi x = mode == mode_kind::negative_overlay      ? estimated<V, mode>(lc, lr, f)
                 : mode == mode_kind::absolute_difference ? estimated<V, mode>(m, m, f)
                                                          : estimated<V, mode>(alpha, m, f);
    if (V::any(V::bit_and(doubt<V>(x, f), f.whole))) return false;
    const vi t = V::shift_right_signed(x, f.bits);
    out = mode == mode_kind::motion_mask ? assemble<V>(lc, lc, lc, t) : assemble<V>(t, t, t, alpha);
    return true;
  }
  vi diff = V::abs_diff_u8(cur, ref);
  if (threshold) {
    const vi quiet = quiet_colour<V>(diff, c);
    ref = V::select(quiet, cur, ref);
    diff = V::and_not(quiet, diff);
  }
  if (mode == mode_kind::motion_mask) {
    const vi m = V::bit_and(V::max_u8(V::max_u8(diff, V::template shift_right<8>(diff)),
                                      V::template shift_right<16>(diff)),
                            c.byte);
    const vi x = estimated<V, mode>(alpha, m, f);
    if (V::any(V::bit_and(doubt<V>(x, f), f.whole))) return false;
    out = V::bit_or(V::bit_and(cur, c.colour),
                    V::template shift_left<24>(V::clamp_byte(V::shift_right_signed(x, f.bits))));
    return true;
  }
  constexpr bool overlaid = mode == mode_kind::negative_overlay;
  const vi x0 = overlaid ? estimated<V, mode>(channel<V, 0>(cur, c), channel<V, 0>(ref, c), f)
                         : estimated<V, mode>(channel<V, 0>(diff, c), diff, f);
  const vi x1 = overlaid ? estimated<V, mode>(channel<V, 1>(cur, c), channel<V, 1>(ref, c), f)
                         : estimated<V, mode>(channel<V, 1>(diff, c), diff, f);
  const vi x2 = overlaid ? estimated<V, mode>(channel<V, 2>(cur, c), channel<V, 2>(ref, c), f)
                         : estimated<V, mode>(channel<V, 2>(diff, c), diff, f);
  // Bits at or above the fit's bits where a channel's value is in doubt.
  const vi d0 = doubt<V>(x0, f), d1 = doubt<V>(x1, f), d2 = doubt<V>(x2, f);
  const bool doubtful = V::any(V::bit_and(V::bit_or(V::bit_or(d0, d1), d2), f.whole));
  if (!overlaid && doubtful) return false;
  vi t0 = V::shift_right_signed(x0, f.bits);
  vi t1 = V::shift_right_signed(x1, f.bits);
  vi t2 = V::shift_right_signed(x2, f.bits);
  if (overlaid && doubtful) {
    if constexpr (V::wide) {
      // A channel whose value did not change overlays as it does at gain 1
      // whatever the gain (d gain is 0), and the wide overlay computes that
      // exactly and cheaply: where only such values are in doubt, their
      // bytes come from it.
      auto bytes_in_doubt = [&](vi d, int32_t bits) {
        return V::and_not(V::is_zero(V::bit_and(d, f.whole)), V::splat(bits));
      };
      const vi bytes = V::bit_or(V::bit_or(bytes_in_doubt(d0, 0xFF), bytes_in_doubt(d1, 0xFF00)),
                                 bytes_in_doubt(d2, 0xFF0000));
      if (!V::any(V::bit_and(bytes, diff))) {
        out = V::select(bytes, overlay_wide<V>(cur, ref, c), assemble<V>(t0, t1, t2, alpha));
        return true;
      }
    }
    // Otherwise each channel with a value in doubt is computed in doubles,
    // and only that channel.
    if (V::any(V::bit_and(d0, f.whole)))
      t0 = overlay<V>(channel<V, 0>(cur, c), channel<V, 0>(ref, c), c);
    if (V::any(V::bit_and(d1, f.whole)))
      t1 = overlay<V>(channel<V, 1>(cur, c), channel<V, 1>(ref, c), c);
    if (V::any(V::bit_and(d2, f.whole)))
      t2 = overlay<V>(channel<V, 2>(cur, c), channel<V, 2>(ref, c), c);
  }
  out = assemble<V>(t0, t1, t2, alpha);
  return true;
}

// The kernel that finishes a frame after the last whole vector.
template <mode_kind mode, bool monochrome, bool threshold, bool fitted>
inline kernel tail_kernel() {
  const int m = static_cast<int>(mode);
  return fitted ? portable_kernels.fitted[m][monochrome][threshold]
                : portable_kernels.exact[m][monochrome][threshold];
}

template <class V, mode_kind mode, bool monochrome, bool threshold, bool fitted>
void composite(const job& work, size_t first) {
  using vi = typename V::vi;
  const constants<V> c(work);
  const fit_constants<V> f(fitted ? *work.fit : integer_fit{});
  size_t i = first;
  for (; work.pixels - i >= V::lanes; i += V::lanes) {
    const vi cur = V::load(work.in + i);
    V::store(work.current + i, cur);
    const vi ref = V::load(work.reference + i);
    vi out;
    if (!fitted || !fitted_block<V, mode, monochrome, threshold>(cur, ref, c, f, out))
      out = monochrome ? block_luma<V, mode, threshold>(cur, ref, c)
                       : block_colour<V, mode, threshold>(cur, ref, c);
    V::store(work.out + i, out);
  }
  if (V::lanes > 1 && i < work.pixels) tail_kernel<mode, monochrome, threshold, fitted>()(work, i);
}

// Lanes to and from plain numbers, whatever the byte order.
template <class V>
inline typename V::vi counting_from(int32_t first) {
  uint32_t numbers[V::lanes];
  for (size_t k = 0; k < V::lanes; ++k)
    numbers[k] = pixel_word(static_cast<uint32_t>(first) + static_cast<uint32_t>(k));
  return V::load(numbers);
}

template <class V>
inline uint32_t lane_sum(typename V::vi x) {
  uint32_t numbers[V::lanes];
  V::store(numbers, x);
  uint32_t sum = 0;
  for (uint32_t n : numbers) sum += pixel_word(n);
  return sum;
}

template <class V>
inline int32_t lane_max(typename V::vi x) {
  uint32_t numbers[V::lanes];
  V::store(numbers, x);
  int32_t most = 0;
  for (uint32_t n : numbers)
    if (static_cast<int32_t>(pixel_word(n)) > most) most = static_cast<int32_t>(pixel_word(n));
  return most;
}

// Makes the mode's integer form for this update's gain (and opacity) and
// finds its margin by comparing it with the doubles: over every pair of
// current and reference value for the overlay, every magnitude for the
// difference, every pair of alpha and magnitude for the mask. The form is
// worth using when few values fall within the margin, and (almost) none
// where nothing changed: still parts of a picture, and every pixel that the
// threshold quiets, are such values. For the difference and the mask that
// is the one magnitude 0, which must be clear. For the overlay it is the
// 256 pairs of equal values, of which two may be in doubt: a still pixel
// then falls back to the doubles only where a channel has one of those two
// values, while refusing the form would send every pixel there. Where the
// adapter has the wide overlay, equal values in doubt cost little
// (fitted_block) and only the others count. Some Blends leave many equal
// values in doubt whatever the precision, as ties that the doubles' own
// rounding decides: 52 at Blend 0.1 or 0.7 with a Contrast other than 0.
template <class V, mode_kind mode>
void fit(const job& work, integer_fit& made) {
  using vi = typename V::vi;
  constexpr bool paired = mode != mode_kind::absolute_difference;
  constexpr int32_t rows = paired ? 256 : 1;
  made = unchecked_fit<mode>(work);
  const constants<V> c(work);
  const vi fraction = V::splat((int32_t(1) << made.bits) - 1);
  const vi unit = V::splat(int32_t(1) << made.bits);
  const vi one = V::splat(1);
  const vi ones = V::splat(-1);
  const vi zero = V::splat(0);
  // Every value the mode sees: (v, r) pairs, or magnitudes r with v 0.
  auto for_each_value = [&](auto&& visit) {
    for (int32_t v = 0; v < rows; ++v)
      for (int32_t r = 0; r < 256; r += static_cast<int32_t>(V::lanes))
        visit(V::splat(v), counting_from<V>(r));
  };
  auto estimate_of = [&](vi v, vi r, const fit_constants<V>& f) {
    return paired ? estimated<V, mode>(v, r, f) : estimated<V, mode>(r, r, f);
  };
  // Nothing changed: the reference equals the current value, or the
  // magnitude is 0.
  auto unchanged = [&](vi v, vi r) {
    return V::is_zero(mode == mode_kind::negative_overlay ? V::sub(v, r) : r);
  };

  // The margin: the largest distance from a wrong estimate to the nearest
  // boundary (a boundary just above x counts from x + 1).
  {
    const fit_constants<V> f(made);
    vi margin = zero;
    for_each_value([&](vi v, vi r) {
      const vi exact = mode == mode_kind::negative_overlay      ? overlay<V>(v, r, c)
                       : mode == mode_kind::absolute_difference ? amplified<V>(r, c)
                                                                : mask_value<V>(v, r, c);
      const vi x = estimate_of(v, r, f);
      const vi wrong = V::and_not(
          V::is_zero(V::sub(V::clamp_byte(exact), V::clamp_byte(V::shift_right_signed(x, f.bits)))),
          ones);
      const vi below = V::bit_and(x, fraction);
      const vi distance = V::min_i32(V::add(below, one), V::sub(unit, below));
      margin = V::max_i32(margin, V::bit_and(wrong, distance));
    });
    made.margin = lane_max<V>(margin);
  }
  if (made.margin >= (int32_t(1) << (made.bits - 1))) return;

  // How many values the margin puts in doubt, in all and where nothing
  // changed.
  const fit_constants<V> f(made);
  vi in_doubt = zero, still = zero;
  for_each_value([&](vi v, vi r) {
    const vi x = estimate_of(v, r, f);
    const vi doubtful = V::and_not(V::is_zero(V::bit_and(doubt<V>(x, f), f.whole)), ones);
    in_doubt = V::sub(in_doubt, doubtful);
    still = V::sub(still, V::bit_and(doubtful, unchanged(v, r)));
  });
  if (mode == mode_kind::negative_overlay && V::wide)
    made.usable = lane_sum<V>(in_doubt) - lane_sum<V>(still) <= 256u;
  else
    made.usable =
        lane_sum<V>(in_doubt) <= (paired ? 256u : 1u) && lane_sum<V>(still) <= (paired ? 2u : 0u);
}

template <class V>
constexpr kernel_set make_kernels() {
  kernel_set set{};
  set.exact[0][0][0] = &composite<V, mode_kind::negative_overlay, false, false, false>;
  set.exact[0][0][1] = &composite<V, mode_kind::negative_overlay, false, true, false>;
  set.exact[0][1][0] = &composite<V, mode_kind::negative_overlay, true, false, false>;
  set.exact[0][1][1] = &composite<V, mode_kind::negative_overlay, true, true, false>;
  set.exact[1][0][0] = &composite<V, mode_kind::absolute_difference, false, false, false>;
  set.exact[1][0][1] = &composite<V, mode_kind::absolute_difference, false, true, false>;
  set.exact[1][1][0] = &composite<V, mode_kind::absolute_difference, true, false, false>;
  set.exact[1][1][1] = &composite<V, mode_kind::absolute_difference, true, true, false>;
  set.exact[2][0][0] = &composite<V, mode_kind::motion_mask, false, false, false>;
  set.exact[2][0][1] = &composite<V, mode_kind::motion_mask, false, true, false>;
  set.exact[2][1][0] = &composite<V, mode_kind::motion_mask, true, false, false>;
  set.exact[2][1][1] = &composite<V, mode_kind::motion_mask, true, true, false>;
  set.fitted[0][0][0] = &composite<V, mode_kind::negative_overlay, false, false, true>;
  set.fitted[0][0][1] = &composite<V, mode_kind::negative_overlay, false, true, true>;
  set.fitted[0][1][0] = &composite<V, mode_kind::negative_overlay, true, false, true>;
  set.fitted[0][1][1] = &composite<V, mode_kind::negative_overlay, true, true, true>;
  set.fitted[1][0][0] = &composite<V, mode_kind::absolute_difference, false, false, true>;
  set.fitted[1][0][1] = &composite<V, mode_kind::absolute_difference, false, true, true>;
  set.fitted[1][1][0] = &composite<V, mode_kind::absolute_difference, true, false, true>;
  set.fitted[1][1][1] = &composite<V, mode_kind::absolute_difference, true, true, true>;
  set.fitted[2][0][0] = &composite<V, mode_kind::motion_mask, false, false, true>;
  set.fitted[2][0][1] = &composite<V, mode_kind::motion_mask, false, true, true>;
  set.fitted[2][1][0] = &composite<V, mode_kind::motion_mask, true, false, true>;
  set.fitted[2][1][1] = &composite<V, mode_kind::motion_mask, true, true, true>;
  set.fit[0] = &fit<V, mode_kind::negative_overlay>;
  set.fit[1] = &fit<V, mode_kind::absolute_difference>;
  set.fit[2] = &fit<V, mode_kind::motion_mask>;
  return set;
}
