// The integer forms, made by each kernel set's own fitting and checked here
// against the model's doubles, value by value, with the estimate worked out
// again from the form's weights as kestrune_dispatch.h writes them down.
// What decides bytes is checked directly: every estimate outside the
// margin gives the doubles' byte, the margin is no wider than the worst
// wrong estimate needs (so a form one unit too narrow would fail here), no
// magnitude reaches 2^31, and every instruction-set level fits alike.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "kestrune_dispatch.h"
#include "kernel_levels.h"
#include "kestrune_model.h"

namespace {

using level_set = kernel_level<kestrune_kernel_set>;

std::vector<level_set> runnable_sets() { return runnable_kernel_sets(kestrune_kernel_sets); }

// A job as an update with these values makes it; the fitting reads only
// the values, never the frames.
kestrune_job job_for(kestrune_mode mode, double blend, double contrast) {
  kestrune_job work{};
  work.mode = mode;
  work.gain = std::exp2(4.0 * contrast);
  work.opacity = blend;
  work.inverse_opacity = 1.0 - blend;
  return work;
}

// The doubles' byte for one value: the overlay of v over r, the difference
// of magnitude r (v unused), the mask's alpha for alpha v and magnitude r.
int exact_byte(kestrune_mode mode, int v, int r, double blend, double contrast) {
  kestrune_test::model m(1);
  m.set(kestrune_test::MODE, mode == kestrune_mode::negative_overlay      ? 0.0
                             : mode == kestrune_mode::absolute_difference ? 0.5
                                                                      : 1.0);
  m.set(kestrune_test::BLEND, blend);
  m.set(kestrune_test::CONTRAST, contrast);
  if (mode == kestrune_mode::negative_overlay)
    return testhost::byte_of(
        m.composite(testhost::pixel(uint8_t(v), 0, 0, 255), testhost::pixel(uint8_t(r), 0, 0, 255)),
        0);
  if (mode == kestrune_mode::absolute_difference)
    return testhost::byte_of(
        m.composite(testhost::pixel(uint8_t(r), 0, 0, 255), testhost::pixel(0, 0, 0, 255)), 0);
  return testhost::byte_of(
      m.composite(testhost::pixel(uint8_t(r), 0, 0, uint8_t(v)), testhost::pixel(0, 0, 0, 0)), 3);
}

// The estimate, from the form's weights alone, in 64 bits so that an
// overflow of the kernels' 32-bit lanes would show as a magnitude.
int64_t estimate(kestrune_mode mode, const kestrune_integer_fit& f, int v, int r) {
  switch (mode) {
    case kestrune_mode::negative_overlay:
      return int64_t(f.current_weight) * v + int64_t(f.difference_weight) * (v - r) + f.offset;
    case kestrune_mode::absolute_difference:
      return int64_t(f.difference_weight) * r + f.offset;
    case kestrune_mode::motion_mask:
      break;
  }
  const int64_t p = int64_t(v) * r;
  return p * f.product_weight + ((p * f.product_fraction) >> 16) + f.offset;
}

int64_t floor_shift(int64_t x, int bits) {
  return x >= 0 ? x >> bits : -((-x + (int64_t(1) << bits) - 1) >> bits);
}

int clamp_byte(int64_t x) { return x < 0 ? 0 : x > 255 ? 255 : int(x); }

struct setting {
  double blend, contrast;
};

// Round and arbitrary values, among them Blends whose ties the doubles
// decide by their own rounding (0.1, 0.3, 0.7) and the extremes of both.
const setting settings[] = {
    {0.5, 0.0},   {0.3, 0.0},   {0.3, 0.4}, {0.1, 0.4}, {0.7, 0.25},           {0.06, 0.4},
    {0.999, 0.9}, {0.002, 0.6}, {1.0, 0.7}, {0.0, 1.0}, {0.6180339887, 0.123}, {0.5013, 0.4},
    {0.37, 0.4},  {0.25, 0.75}, {0.1, 1.0}};

const kestrune_mode modes[] = {kestrune_mode::negative_overlay, kestrune_mode::absolute_difference,
                           kestrune_mode::motion_mask};

TEST(kestrune_fitting, sure_estimates_give_the_bytes_of_the_doubles_and_the_margin_is_tight) {
  for (const level_set& ls : runnable_sets()) {
    for (kestrune_mode mode : modes) {
      for (const setting& s : settings) {
        SCOPED_TRACE("level " + std::to_string(ls.level) + " mode " + std::to_string(int(mode)) +
                     " blend " + std::to_string(s.blend) + " contrast " +
                     std::to_string(s.contrast));
        kestrune_integer_fit f{};
        ls.set->fit[int(mode)](job_for(mode, s.blend, s.contrast), f);
        ASSERT_GE(f.bits, kestrune_fit_bits);
        ASSERT_LE(f.bits, 24);
        const int64_t unit = int64_t(1) << f.bits;
        int64_t widest_wrong = 0;  // the margin the wrong estimates need
        const int rows = mode == kestrune_mode::absolute_difference ? 1 : 256;
        for (int v = 0; v < rows; ++v) {
          for (int r = 0; r < 256; ++r) {
            const int64_t x = estimate(mode, f, v, r);
            ASSERT_LT(std::abs(x) + f.margin, int64_t(1) << 31) << v << " " << r;
            const bool in_doubt =
                floor_shift(x - f.margin, f.bits) != floor_shift(x + f.margin, f.bits);
            const int exact = exact_byte(mode, v, r, s.blend, s.contrast);
            if (clamp_byte(floor_shift(x, f.bits)) == exact) continue;
            ASSERT_TRUE(in_doubt) << "a sure estimate is wrong at " << v << ", " << r;
            const int64_t below = x - floor_shift(x, f.bits) * unit;
            const int64_t distance = std::min(below + 1, unit - below);
            widest_wrong = std::max(widest_wrong, distance);
          }
        }
        // A form that is usable has exactly the margin its wrong estimates
        // need; one unit less would leave the widest of them sure.
        if (f.usable) {
          EXPECT_EQ(f.margin, widest_wrong);
        }
      }
    }
  }
}

// The form, its margin and the bits are the same whichever set made them;
// only how many values in doubt a set accepts may differ, with the cost of
// mending them.
TEST(kestrune_fitting, every_level_fits_alike) {
  const std::vector<level_set> sets = runnable_sets();
  ASSERT_FALSE(sets.empty());
  for (kestrune_mode mode : modes) {
    for (const setting& s : settings) {
      const kestrune_job work = job_for(mode, s.blend, s.contrast);
      kestrune_integer_fit first{};
      sets[0].set->fit[int(mode)](work, first);
      for (size_t i = 1; i < sets.size(); ++i) {
        kestrune_integer_fit f{};
        sets[i].set->fit[int(mode)](work, f);
        SCOPED_TRACE("level " + std::to_string(sets[i].level) + " blend " +
                     std::to_string(s.blend) + " contrast " + std::to_string(s.contrast));
        EXPECT_EQ(f.bits, first.bits);
        EXPECT_EQ(f.current_weight, first.current_weight);
        EXPECT_EQ(f.difference_weight, first.difference_weight);
        EXPECT_EQ(f.product_weight, first.product_weight);
        EXPECT_EQ(f.product_fraction, first.product_fraction);
        EXPECT_EQ(f.offset, first.offset);
        EXPECT_EQ(f.margin, first.margin);
      }
    }
  }
}

}  // namespace
