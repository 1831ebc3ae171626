// kestrune's kernels, written once for any vector width: one pass that
// stores each pixel into the history and composites it, by the integer form
// where the update uses it and the doubles otherwise. Each kernel source
// defines an adapter V (see kestrune_exact.h) and includes this file inside
// its target region and an unnamed namespace, so every instantiation stays
// private to that source. Nothing here includes a standard header: whatever
// it pulled in would be compiled for that target too.

#include "kestrune_exact.h"
#include "kestrune_fitted.h"

// The kernel that finishes a frame after the last whole vector.
template <kestrune_mode mode, bool monochrome, bool threshold, bool fitted>
inline kestrune_kernel tail_kernel() {
  const int m = static_cast<int>(mode);
  return fitted ? kestrune_portable_kernels.fitted[m][monochrome][threshold]
                : kestrune_portable_kernels.exact[m][monochrome][threshold];
}

template <class V, kestrune_mode mode, bool monochrome, bool threshold, bool fitted>
void composite(const kestrune_job& work, size_t first) {
  using vi = typename V::vi;
  const constants<V> c(work);
  const fit_constants<V> f(fitted ? *work.fit : kestrune_integer_fit{});
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

// The set of one adapter: every mode, monochrome and threshold, by the
// doubles alone and by the integer forms, and each mode's fitting.
template <class V, bool fitted, int index = 0>
constexpr void fill_kernels(kestrune_kernel (&table)[3][2][2]) {
  if constexpr (index < 12) {
    constexpr int mode = index / 4, monochrome = index / 2 % 2, threshold = index % 2;
    table[mode][monochrome][threshold] =
        &composite<V, static_cast<kestrune_mode>(mode), monochrome != 0, threshold != 0, fitted>;
    fill_kernels<V, fitted, index + 1>(table);
  }
}

template <class V>
constexpr kestrune_kernel_set make_kernels() {
  kestrune_kernel_set set{};
  fill_kernels<V, false>(set.exact);
  fill_kernels<V, true>(set.fitted);
  set.fit[0] = &fit<V, kestrune_mode::negative_overlay>;
  set.fit[1] = &fit<V, kestrune_mode::absolute_difference>;
  set.fit[2] = &fit<V, kestrune_mode::motion_mask>;
  return set;
}
