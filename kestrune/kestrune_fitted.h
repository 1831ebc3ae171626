// The integer form: the same bytes as the doubles, faster.
//
// Words used here and in the kernels:
// - "The doubles": the exact formulas of kestrune_exact.h.
// - "Estimate": a mode's value plus one half in integers, in units of
//   2^-bits (integer_fit); its integer part is meant to be the byte.
// - "In doubt": an estimate within `margin` units of a byte boundary (the
//   integer parts of x - margin and x + margin differ). There the estimate
//   may round to another byte than the doubles.
// - "Sure": not in doubt. A sure estimate gives the doubles' byte.
//
// What decides bytes; a change here must keep the unit test of the fitting
// and the every-pair tests green:
// 1. `estimated` is the one evaluation of an estimate: `fit` checks it and
//    `fitted_block` uses it, so the values checked are the values used.
// 2. `fit` finds the margin by comparing the estimate with the doubles for
//    every value the mode can meet (every pair of current and reference
//    value for the overlay, every magnitude for the difference, every pair
//    of alpha and magnitude for the mask): every wrong estimate lies within
//    the margin of a boundary, so every sure one is right.
// 3. `doubt` tests exactly that margin, and whatever is in doubt is
//    computed by the doubles (or by overlay_by_bits, which evaluates them).
// 4. Magnitudes stay below 2^31 (overlay_bits, unchecked_fit).
//
// What decides only speed:
// - `usable`: how many values may be in doubt before a frame is cheaper in
//   doubles alone.
// - The bits overlay_bits chooses: more bits, a narrower margin, fewer
//   values in doubt.
// - What a block in doubt does: it is computed in doubles, except that the
//   colour overlay takes bytes in doubt in channels that did not change from
//   overlay_by_bits where the adapter has it.
//
// Included by kestrune_body.h after kestrune_exact.h; includes nothing.

// The overlay is
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
inline int overlay_bits(const kestrune_job& work) {
  const double spread = work.inverse_opacity - work.opacity;
  const double most = 255.0 * (spread < 0.0 ? -spread : spread) + 255.0 * work.gain * work.opacity +
                      255.0 * work.opacity + 0.5;
  int bits = kestrune_fit_bits;
  while (bits < 24 &&
         (most + 1.0) * static_cast<double>(int64_t(1) << (bits + 1)) + 256.0 < 2147483648.0)
    ++bits;
  return bits;
}

template <kestrune_mode mode>
inline kestrune_integer_fit unchecked_fit(const kestrune_job& work) {
  kestrune_integer_fit fit{};
  fit.bits = kestrune_fit_bits;
  if (mode == kestrune_mode::negative_overlay) {
    fit.bits = overlay_bits(work);
    fit.current_weight = fixed_point(work.inverse_opacity - work.opacity, fit.bits);
    fit.difference_weight = fixed_point(work.gain * work.opacity, fit.bits);
    fit.offset = fixed_point(255.0 * work.opacity + 0.5, fit.bits);
  } else if (mode == kestrune_mode::absolute_difference) {
    fit.difference_weight = fixed_point(work.gain, kestrune_fit_bits);
    fit.offset = fixed_point(0.5, kestrune_fit_bits);
  } else {
    // gain / 255 in units of 2^-34 is below 2^31; a m is below 2^16, so
    // each part of the product stays within 32 unsigned bits.
    const int32_t weight = static_cast<int32_t>(
        work.gain / 255.0 * static_cast<double>(int64_t(1) << (kestrune_fit_bits + 16)) + 0.5);
    fit.product_weight = weight >> 16;
    fit.product_fraction = weight & 0xFFFF;
    fit.offset = fixed_point(0.5, kestrune_fit_bits);
  }
  return fit;
}

template <class V>
struct fit_constants {
  typename V::vi current_weight, difference_weight, product_weight, product_fraction, offset,
      margin, whole;
  typename V::count bits;

  explicit fit_constants(const kestrune_integer_fit& fit)
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
template <class V, kestrune_mode mode>
inline typename V::vi estimated(typename V::vi v, typename V::vi r, const fit_constants<V>& f) {
  switch (mode) {
    case kestrune_mode::negative_overlay:
      return estimate<V>(v, r, f);
    case kestrune_mode::absolute_difference:
      return scaled<V>(v, f);
    case kestrune_mode::motion_mask:
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
// in doubt, and the block must be computed in doubles. Where the adapter has
// overlay_by_bits, the colour overlay first mends values in doubt in
// channels that did not change.
template <class V, kestrune_mode mode, bool monochrome, bool threshold>
inline bool fitted_block(typename V::vi cur, typename V::vi ref, const constants<V>& c,
                         const fit_constants<V>& f, typename V::vi& out) {
  using vi = typename V::vi;
  const vi alpha = V::template shift_right<24>(cur);
  if (monochrome) {
    vi lc, lr, m;
    compare_lumas<V, threshold>(cur, ref, c, lc, lr, m);
    const vi x = mode == kestrune_mode::negative_overlay      ? estimated<V, mode>(lc, lr, f)
                 : mode == kestrune_mode::absolute_difference ? estimated<V, mode>(m, m, f)
                                                          : estimated<V, mode>(alpha, m, f);
    if (V::any(V::bit_and(doubt<V>(x, f), f.whole))) return false;
    const vi t = V::shift_right_signed(x, f.bits);
    out = mode == kestrune_mode::motion_mask ? assemble<V>(lc, lc, lc, t) : assemble<V>(t, t, t, alpha);
    return true;
  }
  vi diff = V::abs_diff_u8(cur, ref);
  if (threshold) {
    const vi quiet = quiet_colour<V>(diff, c);
    ref = V::select(quiet, cur, ref);
    diff = V::and_not(quiet, diff);
  }
  if (mode == kestrune_mode::motion_mask) {
    const vi m = V::bit_and(V::max_u8(V::max_u8(diff, V::template shift_right<8>(diff)),
                                      V::template shift_right<16>(diff)),
                            c.byte);
    const vi x = estimated<V, mode>(alpha, m, f);
    if (V::any(V::bit_and(doubt<V>(x, f), f.whole))) return false;
    out = V::bit_or(V::bit_and(cur, c.colour),
                    V::template shift_left<24>(V::clamp_byte(V::shift_right_signed(x, f.bits))));
    return true;
  }
  constexpr bool overlaid = mode == kestrune_mode::negative_overlay;
  const vi x0 = overlaid ? estimated<V, mode>(channel<V, 0>(cur, c), channel<V, 0>(ref, c), f)
                         : estimated<V, mode>(channel<V, 0>(diff, c), diff, f);
  const vi x1 = overlaid ? estimated<V, mode>(channel<V, 1>(cur, c), channel<V, 1>(ref, c), f)
                         : estimated<V, mode>(channel<V, 1>(diff, c), diff, f);
  const vi x2 = overlaid ? estimated<V, mode>(channel<V, 2>(cur, c), channel<V, 2>(ref, c), f)
                         : estimated<V, mode>(channel<V, 2>(diff, c), diff, f);
  // Bits at or above the fit's bits where a channel's value is in doubt.
  const vi d0 = doubt<V>(x0, f), d1 = doubt<V>(x1, f), d2 = doubt<V>(x2, f);
  const bool doubtful = V::any(V::bit_and(V::bit_or(V::bit_or(d0, d1), d2), f.whole));
  const vi t0 = V::shift_right_signed(x0, f.bits);
  const vi t1 = V::shift_right_signed(x1, f.bits);
  const vi t2 = V::shift_right_signed(x2, f.bits);
  if (doubtful) {
    if constexpr (V::bit_overlay) {
      if (overlaid) {
        // A channel whose value did not change overlays as it does at gain 1
        // whatever the gain (d gain is 0), and overlay_by_bits computes that
        // exactly and cheaply: where only such values are in doubt, their
        // bytes come from it.
        auto bytes_in_doubt = [&](vi d, int32_t bits) {
          return V::and_not(V::is_zero(V::bit_and(d, f.whole)), V::splat(bits));
        };
        const vi bytes = V::bit_or(V::bit_or(bytes_in_doubt(d0, 0xFF), bytes_in_doubt(d1, 0xFF00)),
                                   bytes_in_doubt(d2, 0xFF0000));
        if (!V::any(V::bit_and(bytes, diff))) {
          out = V::select(bytes, overlay_by_bits<V>(cur, ref, c), assemble<V>(t0, t1, t2, alpha));
          return true;
        }
      }
    }
    return false;
  }
  out = assemble<V>(t0, t1, t2, alpha);
  return true;
}

// Lanes to and from plain numbers, whatever the byte order.
template <class V>
inline typename V::vi counting_from(int32_t first) {
  uint32_t numbers[V::lanes];
  for (size_t k = 0; k < V::lanes; ++k)
    numbers[k] = effects::pixel_word(static_cast<uint32_t>(first) + static_cast<uint32_t>(k));
  return V::load(numbers);
}

template <class V>
inline uint32_t lane_sum(typename V::vi x) {
  uint32_t numbers[V::lanes];
  V::store(numbers, x);
  uint32_t sum = 0;
  for (uint32_t n : numbers) sum += effects::pixel_word(n);
  return sum;
}

template <class V>
inline int32_t lane_max(typename V::vi x) {
  uint32_t numbers[V::lanes];
  V::store(numbers, x);
  int32_t most = 0;
  for (uint32_t n : numbers)
    if (static_cast<int32_t>(effects::pixel_word(n)) > most)
      most = static_cast<int32_t>(effects::pixel_word(n));
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
// adapter has overlay_by_bits, equal values in doubt cost little
// (fitted_block) and only the others count. Some Blends leave many equal
// values in doubt whatever the precision, as ties that the doubles' own
// rounding decides: 52 at Blend 0.1 or 0.7 with a Contrast other than 0.
template <class V, kestrune_mode mode>
void fit(const kestrune_job& work, kestrune_integer_fit& made) {
  using vi = typename V::vi;
  constexpr bool paired = mode != kestrune_mode::absolute_difference;
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
    return V::is_zero(mode == kestrune_mode::negative_overlay ? V::sub(v, r) : r);
  };

  // The margin: the largest distance from a wrong estimate to the nearest
  // boundary (a boundary just above x counts from x + 1).
  {
    const fit_constants<V> f(made);
    vi margin = zero;
    for_each_value([&](vi v, vi r) {
      const vi exact = mode == kestrune_mode::negative_overlay      ? overlay<V>(v, r, c)
                       : mode == kestrune_mode::absolute_difference ? amplified<V>(r, c)
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
  if (mode == kestrune_mode::negative_overlay && V::bit_overlay)
    made.usable = lane_sum<V>(in_doubt) - lane_sum<V>(still) <= 256u;
  else
    made.usable =
        lane_sum<V>(in_doubt) <= (paired ? 256u : 1u) && lane_sum<V>(still) <= (paired ? 2u : 0u);
}
