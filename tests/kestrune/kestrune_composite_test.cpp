// The compositing: values worked out by hand for each mode, contrast,
// threshold and monochrome; parameters that are out of range or not a
// number; and every kernel variant against the plain model over random
// clips, in place and with separate buffers.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "kestrune_model.h"

namespace {

using namespace kestrune_test;
using testhost::instance;

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

struct setting {
  int index;
  double value;
};

const double defaults[PARAM_COUNT] = {0.1, 0.0, 0.5, 0.0, 0.0, 0.0};

class kestrune_composite : public testing::Test {
 protected:
  testhost::plugin p{testhost::plugin_path("kestrune")};
  // A 3 x 1 frame (no vector kernel runs) and a 35 x 1 one (every kernel
  // width and a tail), kept across cases: going back to time 0 empties the
  // history.
  instance narrow = p.construct(3, 1);
  instance wide = p.construct(35, 1);

  // Output for `cur` (time 1) compared with `ref` (time 0), every pixel of
  // both frames alike; both instances must agree.
  uint32_t after(uint32_t ref, uint32_t cur, std::initializer_list<setting> settings) {
    uint32_t result = 0;
    for (instance* inst : {&narrow, &wide}) {
      EXPECT_TRUE(inst->valid());
      for (int i = 0; i < PARAM_COUNT; ++i) inst->set(i, defaults[i]);
      inst->set(TIME_OFFSET, 0.0);
      for (const setting& s : settings) inst->set(s.index, s.value);
      const unsigned w = inst->width();
      inst->update(0.0, frame(w, ref));
      const frame out = inst->update(1.0, frame(w, cur));
      for (uint32_t o : out) EXPECT_EQ(o, out[0]);
      if (inst == &narrow) result = out[0];
      EXPECT_EQ(out[0], result) << "width " << w;
    }
    return result;
  }
  uint32_t first(uint32_t cur, std::initializer_list<setting> settings) {
    return after(cur, cur, settings);
  }
};

TEST_F(kestrune_composite, luma_of_white_red_green_blue) {
  const std::initializer_list<setting> mono_mask = {{MODE, 1.0}, {MONOCHROME, 1.0}};
  EXPECT_EQ(first(pixel(255, 255, 255, 255), mono_mask), pixel(255, 255, 255, 0));
  EXPECT_EQ(first(pixel(255, 0, 0, 255), mono_mask), pixel(76, 76, 76, 0));
  EXPECT_EQ(first(pixel(0, 255, 0, 255), mono_mask), pixel(150, 150, 150, 0));
  EXPECT_EQ(first(pixel(0, 0, 255, 255), mono_mask), pixel(29, 29, 29, 0));
  EXPECT_EQ(first(pixel(0, 0, 0, 255), mono_mask), pixel(0, 0, 0, 0));
}

TEST_F(kestrune_composite, a_frame_compared_with_itself) {
  const uint32_t c = pixel(10, 200, 77, 99);
  EXPECT_EQ(first(c, {}), pixel(128, 128, 128, 99));
  EXPECT_EQ(first(c, {{MODE, 0.5}}), pixel(0, 0, 0, 99));
  EXPECT_EQ(first(c, {{MODE, 1.0}}), pixel(10, 200, 77, 0));
  EXPECT_EQ(first(c, {{MODE, 0.5}, {CONTRAST, 1.0}, {MONOCHROME, 1.0}}), pixel(0, 0, 0, 99));
}

TEST_F(kestrune_composite, negative_overlay) {
  const uint32_t ref = pixel(100, 0, 250, 1);
  const uint32_t cur = pixel(200, 250, 0, 42);
  // Blend 0: the current frame unchanged, or its luma in grey.
  EXPECT_EQ(after(ref, cur, {{BLEND, 0.0}}), cur);
  EXPECT_EQ(after(ref, cur, {{BLEND, 0.0}, {MONOCHROME, 1.0}}), pixel(207, 207, 207, 42));
  // Blend 1, no contrast: the inverted reference.
  EXPECT_EQ(after(ref, cur, {{BLEND, 1.0}}), pixel(155, 255, 5, 42));
  // Gain 2: red 200 * 0.5 + (100 * 2 + 55) * 0.5 = 227.5; green
  // 125 + (250 * 2 + 5) * 0.5 = 377.5 saturates; blue 0 + (-500 + 255) * 0.5
  // is below 0.
  EXPECT_EQ(after(ref, cur, {{CONTRAST, 0.25}}), pixel(228, 255, 0, 42));
  // Gain 16, blend 0.25: unchanged red and green give 255 * 0.25 = 63.75;
  // blue 0.75 * 60 + (10 * 16 + 195) * 0.25 = 133.75.
  EXPECT_EQ(after(pixel(0, 0, 50, 0), pixel(0, 0, 60, 7), {{CONTRAST, 1.0}, {BLEND, 0.25}}),
            pixel(64, 64, 134, 7));
}

// The doubles decide the overlay's ties by their own rounding, which exact
// decimal arithmetic does not reproduce. Blend 0.3 at gain 1: 1 - 0.3 is
// 0.69999999999999995559 and 46 * 0.3 is 13.799999999999998934, so a current
// 1 over a reference 209 gives 14.499999999999998 -> 14, where 0.7 + 13.8 =
// 14.5 would give 15; over 249, 0.69999999999999995559 + 1.7999999999999998224
// is a tie of its own that rounds to even, exactly 2.5 -> 3; a current 0 over
// 250 gives 5 * 0.3 = 1.5 -> 2. Away from ties: blend 0.37, contrast 0.4
// (gain 2^1.6 = 3.0314), 100 over 90 gives 0.63 * 100 + (10 * 3.0314 + 155) *
// 0.37 = 131.57 -> 132.
TEST_F(kestrune_composite, overlay_rounding_as_the_doubles_round) {
  EXPECT_EQ(after(pixel(209, 249, 250, 0), pixel(1, 1, 0, 9), {{BLEND, 0.3}}), pixel(14, 3, 2, 9));
  EXPECT_EQ(after(pixel(90, 90, 90, 0), pixel(100, 100, 100, 9), {{BLEND, 0.37}, {CONTRAST, 0.4}}),
            pixel(132, 132, 132, 9));
}

TEST_F(kestrune_composite, absolute_difference_and_its_gain) {
  const uint32_t ref = pixel(100, 100, 100, 0);
  EXPECT_EQ(after(ref, pixel(115, 84, 101, 5), {{MODE, 0.5}}), pixel(15, 16, 1, 5));
  // Gain 16: 15 gives 240, 16 and more saturate, 1 gives 16.
  EXPECT_EQ(after(ref, pixel(115, 84, 101, 5), {{MODE, 0.5}, {CONTRAST, 1.0}}),
            pixel(240, 255, 16, 5));
  // Gain 2^0.5 = 1.41421...: 15 gives 21.2 -> 21, 16 gives 22.6 -> 23.
  EXPECT_EQ(after(ref, pixel(115, 84, 100, 5), {{MODE, 0.5}, {CONTRAST, 0.125}}),
            pixel(21, 23, 0, 5));
  // Monochrome: the difference of the lumas, 76 - 0, in grey.
  EXPECT_EQ(after(pixel(0, 0, 0, 0), pixel(255, 0, 0, 9), {{MODE, 0.5}, {MONOCHROME, 1.0}}),
            pixel(76, 76, 76, 9));
}

TEST_F(kestrune_composite, motion_mask_alpha) {
  const uint32_t ref = pixel(50, 50, 50, 255);
  const uint32_t moved = pixel(60, 45, 50, 255);  // magnitude 10
  EXPECT_EQ(after(ref, moved, {{MODE, 1.0}}), pixel(60, 45, 50, 10));
  EXPECT_EQ(after(ref, moved, {{MODE, 1.0}, {CONTRAST, 1.0}}), pixel(60, 45, 50, 160));
  EXPECT_EQ(after(ref, pixel(66, 50, 50, 255), {{MODE, 1.0}, {CONTRAST, 1.0}}),
            pixel(66, 50, 50, 255));
  // Alpha 128, magnitude 100: 128 * 100 / 255 = 50.2.
  EXPECT_EQ(after(ref, pixel(50, 150, 50, 128), {{MODE, 1.0}}), pixel(50, 150, 50, 50));
  // Monochrome: grey of the current luma, alpha from the luma difference
  // (76 - 50 = 26).
  EXPECT_EQ(after(ref, pixel(255, 0, 0, 255), {{MODE, 1.0}, {MONOCHROME, 1.0}}),
            pixel(76, 76, 76, 26));
}

TEST_F(kestrune_composite, threshold_levels) {
  const uint32_t ref = pixel(0, 0, 0, 0);
  const std::initializer_list<setting> full = {{MODE, 0.5}, {THRESHOLD, 1.0}};
  EXPECT_EQ(after(ref, pixel(254, 254, 254, 3), full), pixel(0, 0, 0, 3));
  EXPECT_EQ(after(ref, pixel(255, 10, 0, 3), full), pixel(255, 10, 0, 3));
  // 0.5 gives level 128: the largest channel difference decides.
  const std::initializer_list<setting> half = {{MODE, 0.5}, {THRESHOLD, 0.5}};
  EXPECT_EQ(after(ref, pixel(127, 127, 1, 3), half), pixel(0, 0, 0, 3));
  EXPECT_EQ(after(ref, pixel(5, 128, 1, 3), half), pixel(5, 128, 1, 3));
  // A suppressed pixel is an unchanged one in every mode.
  EXPECT_EQ(after(ref, pixel(100, 20, 30, 40), {{THRESHOLD, 0.5}}), pixel(128, 128, 128, 40));
  EXPECT_EQ(after(ref, pixel(100, 20, 30, 40), {{THRESHOLD, 0.5}, {MODE, 1.0}}),
            pixel(100, 20, 30, 0));
  // Monochrome compares the luma difference: 76 passes level 76, not 77
  // (0.3 * 255 + 0.5 = 77.0 -> 77; 0.298 * 255 + 0.5 = 76.49 -> 76).
  EXPECT_EQ(after(ref, pixel(255, 0, 0, 1), {{MODE, 0.5}, {MONOCHROME, 1.0}, {THRESHOLD, 0.3}}),
            pixel(0, 0, 0, 1));
  EXPECT_EQ(after(ref, pixel(255, 0, 0, 1), {{MODE, 0.5}, {MONOCHROME, 1.0}, {THRESHOLD, 0.298}}),
            pixel(76, 76, 76, 1));
}

TEST_F(kestrune_composite, mode_limits) {
  const uint32_t ref = pixel(10, 20, 30, 40);
  const uint32_t cur = pixel(20, 20, 30, 50);
  const uint32_t overlay = after(ref, cur, {{MODE, 0.0}});
  const uint32_t difference = pixel(10, 0, 0, 50);
  const uint32_t mask = pixel(20, 20, 30, 2);  // 50 * 10 / 255 = 1.96
  EXPECT_EQ(overlay, pixel(133, 128, 128, 50));
  EXPECT_EQ(after(ref, cur, {{MODE, -1.0}}), overlay);
  EXPECT_EQ(after(ref, cur, {{MODE, -inf}}), overlay);
  EXPECT_EQ(after(ref, cur, {{MODE, std::nextafter(1.0 / 3, 0.0)}}), overlay);
  EXPECT_EQ(after(ref, cur, {{MODE, 1.0 / 3}}), difference);
  EXPECT_EQ(after(ref, cur, {{MODE, 0.5}}), difference);
  EXPECT_EQ(after(ref, cur, {{MODE, std::nextafter(2.0 / 3, 0.0)}}), difference);
  EXPECT_EQ(after(ref, cur, {{MODE, 2.0 / 3}}), mask);
  EXPECT_EQ(after(ref, cur, {{MODE, 1.0}}), mask);
  EXPECT_EQ(after(ref, cur, {{MODE, 5.0}}), mask);
  EXPECT_EQ(after(ref, cur, {{MODE, inf}}), mask);
  EXPECT_EQ(after(ref, cur, {{MODE, NaN}}), mask);
}

// Out-of-range values act as the nearest limit; a Blend, Contrast or
// Threshold that is not a number acts as 0 (checked under the undefined
// behaviour sanitizer, where a NaN reaching an integer conversion fails).
TEST_F(kestrune_composite, parameters_out_of_range_or_not_a_number) {
  const uint32_t ref = pixel(100, 100, 100, 0);
  const uint32_t cur = pixel(110, 101, 100, 77);
  EXPECT_EQ(after(ref, cur, {{BLEND, NaN}}), cur);
  EXPECT_EQ(after(ref, cur, {{BLEND, -5.0}}), cur);
  EXPECT_EQ(after(ref, cur, {{BLEND, inf}}), pixel(155, 155, 155, 77));
  EXPECT_EQ(after(ref, cur, {{MODE, 0.5}, {CONTRAST, NaN}}), pixel(10, 1, 0, 77));
  EXPECT_EQ(after(ref, cur, {{MODE, 0.5}, {CONTRAST, -inf}}), pixel(10, 1, 0, 77));
  EXPECT_EQ(after(ref, cur, {{MODE, 0.5}, {CONTRAST, 1e300}}), pixel(160, 16, 0, 77));
  EXPECT_EQ(after(ref, cur, {{MODE, 0.5}, {THRESHOLD, NaN}}), pixel(10, 1, 0, 77));
  EXPECT_EQ(after(ref, cur, {{MODE, 0.5}, {THRESHOLD, -1.0}}), pixel(10, 1, 0, 77));
  EXPECT_EQ(after(ref, cur, {{MODE, 0.5}, {THRESHOLD, inf}}), pixel(0, 0, 0, 77));
  EXPECT_EQ(after(ref, cur, {{MODE, 1.0}, {CONTRAST, NaN}, {THRESHOLD, NaN}}),
            pixel(110, 101, 100, 3));  // 77 * 10 / 255 = 3.02
  EXPECT_EQ(after(ref, cur, {{BLEND, NaN}, {CONTRAST, NaN}, {THRESHOLD, NaN}, {MONOCHROME, NaN}}),
            cur);
}

// A host's clip: parameters change every few frames (sometimes out of range
// or NaN), frames are random or a noisy copy of the previous one (so the
// threshold both keeps and suppresses), time mostly advances, sometimes
// repeats or jumps back.
struct clip {
  std::mt19937_64 rng;
  explicit clip(uint64_t seed) : rng(seed) {}

  double uniform() { return std::uniform_real_distribution<double>(0, 1)(rng); }

  double value(int index) {
    const unsigned pick = rng() % 20;
    if (pick == 0) return NaN;
    if (pick == 1) return -0.5;
    if (pick == 2) return 2.0;
    if (index == MODE) return (rng() % 4) / 3.0 + (pick % 2 ? 0.0 : uniform() * 0.3);
    if (index == THRESHOLD) return uniform() * (pick % 3 ? 0.1 : 1.0);
    if (index == MONOCHROME) return double(rng() % 2);
    return uniform();
  }

  frame next_frame(const frame& previous, size_t pixels) {
    frame f = testhost::random_frame(pixels, rng());
    if (previous.size() == pixels && rng() % 3 != 0) {
      for (size_t i = 0; i < pixels; ++i) {
        uint8_t b[4];
        for (int k = 0; k < 4; ++k) b[k] = uint8_t(byte_of(previous[i], k) + int(rng() % 9) - 4);
        f[i] = pixel(b[0], b[1], b[2], b[3]);
      }
    }
    return f;
  }
};

// Frames of a clip through two instances, one updated with separate
// buffers and one in place, and through the model; `choose` gives the
// parameter values before each frame (it sets none when it returns false).
template <class Choose>
void expect_model_over(const std::string& path, Choose choose) {
  testhost::plugin p(path);
  const unsigned sizes[][2] = {{1, 1}, {3, 5}, {67, 13}, {16, 16}, {33, 1}, {1, 31}};
  uint64_t seed = 1;
  for (const auto& size : sizes) {
    clip c(seed++);
    const size_t pixels = size_t(size[0]) * size[1];
    instance separate = p.construct(size[0], size[1]);
    instance in_place = p.construct(size[0], size[1]);
    ASSERT_TRUE(separate.valid() && in_place.valid());
    model m(pixels);
    frame in;
    double t = 0.0;
    for (int f = 0; f < 90; ++f) {
      double values[PARAM_COUNT];
      if (choose(c, f, values)) {
        for (int i = 0; i < PARAM_COUNT; ++i) {
          separate.set(i, values[i]);
          in_place.set(i, values[i]);
          m.set(i, values[i]);
        }
      }
      in = c.next_frame(in, pixels);
      const unsigned step = c.rng() % 16;
      if (step != 2) t += step == 0 ? 0.0 : step == 1 ? -0.3 : 0.04 * step;
      const double now = step == 2 ? NaN : t;
      const frame expected = m.update(now, in);
      const frame copy = in;
      ASSERT_EQ(separate.update(now, in), expected)
          << path << " " << size[0] << "x" << size[1] << " frame " << f;
      ASSERT_EQ(in, copy);
      frame shared = in;
      in_place.update_in_place(now, shared);
      ASSERT_EQ(shared, expected) << "in place, frame " << f;
    }
  }
}

// Parameters change every few frames, to any value.
void expect_model_over_clips(const std::string& path) {
  expect_model_over(path, [](clip& c, int f, double(&values)[PARAM_COUNT]) {
    if (f % 4 != 0) return false;
    for (int i = 0; i < PARAM_COUNT; ++i) values[i] = c.value(i);
    return true;
  });
}

// Overlay settings set before every frame, as MLT does: runs of the same
// values (A A B A B B ...), values whose overlay the integer form serves and
// values it leaves to the doubles, looks that differ in Blend alone or in
// Contrast alone; then Blend moving a little every frame, then Contrast and
// Threshold.
void expect_model_over_changing_settings(const std::string& path) {
  struct look {
    double blend, contrast, threshold, monochrome;
  };
  const look a{0.37, 0.4, 0.0, 0.0}, b{0.3, 0.0, 0.02, 0.0}, c{0.5013, 0.123, 0.1, 1.0},
      d{0.7, 0.25, 0.0, 1.0}, e{0.45, 0.4, 0.0, 0.0}, f{0.37, 0.0, 0.0, 0.0};
  const look runs[] = {a, a, b, a, b, b, c, c, a, c, d, d, a, e, a, e, e, f, a, f};
  const int n = int(sizeof runs / sizeof runs[0]);
  expect_model_over(path, [&](clip&, int frame_index, double(&values)[PARAM_COUNT]) {
    const int moved = frame_index - 2 * n;
    const look l = moved < 0    ? runs[frame_index % n]
                   : moved < 25 ? look{0.5 + 0.0011 * moved, 0.4, 0.0, double(moved % 5 == 0)}
                                : look{0.5, 0.4 - 0.003 * moved, 0.004 * (moved % 9), 0.0};
    values[TIME_OFFSET] = 0.05;
    values[MODE] = 0.0;
    values[BLEND] = l.blend;
    values[CONTRAST] = l.contrast;
    values[THRESHOLD] = l.threshold;
    values[MONOCHROME] = l.monochrome;
    return true;
  });
}

// The shipped library uses the widest kernels this processor has; the test
// builds limited to AVX2 and to SSE2 check the others here too.
TEST(kestrune_kernels, shipped_library_matches_the_model) {
  expect_model_over_clips(testhost::plugin_path("kestrune"));
}
TEST(kestrune_kernels, every_instruction_set_variant_matches_the_model) {
  for (const testhost::variant& v : testhost::plugin_variants("kestrune")) {
    SCOPED_TRACE(v.name);
    expect_model_over_clips(v.path);
  }
}
TEST(kestrune_kernels, overlay_settings_changing_every_frame) {
  expect_model_over_changing_settings(testhost::plugin_path("kestrune"));
  for (const testhost::variant& v : testhost::plugin_variants("kestrune")) {
    SCOPED_TRACE(v.name);
    expect_model_over_changing_settings(v.path);
  }
}

// Every pair of current and reference value (the alpha of the current frame
// following the reference value), in every mode, with and without
// monochrome (grey pixels have their value as luma), for gains and opacities
// both round and arbitrary: rounding is where a change in the order of the
// double operations would show.
void expect_every_pair_of_values(const std::string& path) {
  testhost::plugin p(path);
  frame ref(65536), cur(65536);
  for (uint32_t i = 0; i < 65536; ++i) {
    const uint8_t v = uint8_t(i >> 8), r = uint8_t(i);
    ref[i] = pixel(r, r, r, 0);
    cur[i] = pixel(v, v, v, r);
  }
  // One instance for every setting: with no delay each current frame is
  // compared with the reference frame fed just before it.
  instance inst = p.construct(256, 256);
  ASSERT_TRUE(inst.valid());
  model m(65536);
  inst.set(TIME_OFFSET, 0.0);
  m.set(TIME_OFFSET, 0.0);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double round[][2] = {{0.5, 0.0}, {0.5, 0.25}, {0.25, 0.5},
                             {1.0, 1.0}, {0.0, 0.75}, {0.75, 0.125}};
  double t = 0.0;
  for (int set = 0; set < 14; ++set) {
    const double blend = set < 6 ? round[set][0] : unit(rng);
    const double contrast = set < 6 ? round[set][1] : unit(rng);
    for (double mode : {0.0, 0.5, 1.0}) {
      for (double mono : {0.0, 1.0}) {
        for (const setting& s : std::initializer_list<setting>{
                 {MODE, mode}, {BLEND, blend}, {CONTRAST, contrast}, {MONOCHROME, mono}}) {
          inst.set(s.index, s.value);
          m.set(s.index, s.value);
        }
        inst.update(t, ref);
        m.update(t, ref);
        t += 1.0;
        ASSERT_EQ(inst.update(t, cur), m.update(t, cur))
            << path << " blend " << blend << " contrast " << contrast << " mode " << mode
            << " mono " << mono;
        t += 1.0;
      }
    }
  }
}

TEST(kestrune_kernels, every_pair_of_values) {
  expect_every_pair_of_values(testhost::plugin_path("kestrune"));
  for (const testhost::variant& v : testhost::plugin_variants("kestrune")) {
    SCOPED_TRACE(v.name);
    expect_every_pair_of_values(v.path);
  }
}

// Every pair of current and reference value fills a block of 16 pixels by
// itself, so that no other pair decides whether its block is computed by an
// integer form or in doubles (a block with any value in doubt is computed in
// doubles, unless the overlay can take them from its bits): the
// overlay's and the difference's integer forms are checked against the
// model for every pair, and so every magnitude, and the mask's for every
// pair of alpha and magnitude, wherever they are used.
// Blends and contrasts both arbitrary and round, among them ones whose ties
// the doubles decide by their rounding; at Contrast 0.4, Blend 0.06 leaves
// two pairs of equal values in doubt (the integer form is used all the
// same) and Blend 0.1 fifty-two (which the AVX2 and AVX-512 kernels take
// from overlay_by_bits).
void expect_every_pair_alone(const std::string& path) {
  const size_t block = 16;
  testhost::plugin p(path);
  instance inst = p.construct(1024, 1024);
  ASSERT_TRUE(inst.valid());
  // Overlay and difference: channel values (v, r), (r, v), (v ^ 0xA5, r).
  // Mask: alpha r, magnitude v (in red; green moves by half as much).
  frame ref(65536 * block), cur(65536 * block), masked(65536 * block);
  const frame black(65536 * block, pixel(0, 0, 0, 0));
  for (uint32_t i = 0; i < 65536; ++i) {
    const uint8_t v = uint8_t(i >> 8), r = uint8_t(i);
    for (size_t k = 0; k < block; ++k) {
      cur[i * block + k] = pixel(v, r, uint8_t(v ^ 0xA5), r);
      ref[i * block + k] = pixel(r, v, r, 0);
      masked[i * block + k] = pixel(v, uint8_t(v / 2), 0, r);
    }
  }
  model m(1);
  inst.set(TIME_OFFSET, 0.0);
  const double settings[][2] = {
      {0.5, 0.0},  {0.3, 0.0},   {0.7, 0.25},  {0.1, 1.0}, {0.5013, 0.4}, {0.6180339887, 0.123},
      {0.37, 0.4}, {0.999, 0.9}, {0.002, 0.6}, {1.0, 0.7}, {0.25, 0.75},  {0.06, 0.4},
      {0.1, 0.4}};
  double t = 0.0;
  for (double mode : {0.0, 0.5, 1.0}) {
    const frame& before = mode == 1.0 ? black : ref;
    const frame& now = mode == 1.0 ? masked : cur;
    for (const auto& values : settings) {
      for (const setting& s : {setting{MODE, mode}, {BLEND, values[0]}, {CONTRAST, values[1]}}) {
        inst.set(s.index, s.value);
        m.set(s.index, s.value);
      }
      inst.update(t, before);
      const frame out = inst.update(t + 1.0, now);
      t += 2.0;
      for (uint32_t i = 0; i < 65536; ++i) {
        const uint32_t expected = m.composite(now[i * block], before[i * block]);
        for (size_t k = 0; k < block; ++k) {
          if (out[i * block + k] != expected) {
            ADD_FAILURE() << path << " mode " << mode << " blend " << values[0] << " contrast "
                          << values[1] << " pair " << i << " pixel " << k;
            return;
          }
        }
      }
    }
  }
}

TEST(kestrune_kernels, every_pair_in_a_block_of_its_own) {
  expect_every_pair_alone(testhost::plugin_path("kestrune"));
  for (const testhost::variant& v : testhost::plugin_variants("kestrune")) {
    SCOPED_TRACE(v.name);
    expect_every_pair_alone(v.path);
  }
}

// Every colour of the cube through the monochrome motion mask of a first
// frame: the grey written is the luma, exactly, in every variant.
void expect_luma_of_every_colour(const std::string& path) {
  testhost::plugin p(path);
  const unsigned width = 4096, height = 256;
  instance inst = p.construct(width, height);
  ASSERT_TRUE(inst.valid());
  inst.set(MODE, 1.0);
  inst.set(MONOCHROME, 1.0);
  frame f(size_t(width) * height);
  // Colour c as red c & 255, green (c >> 8) & 255, blue c >> 16, opaque.
  auto opaque = [](uint32_t c) {
    return pixel(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 255);
  };
  for (uint32_t chunk = 0; chunk < 16; ++chunk) {
    for (uint32_t i = 0; i < f.size(); ++i) f[i] = opaque(chunk << 20 | i);
    // Always time 0: the held frame is dropped, each frame is its own
    // reference.
    inst.update_in_place(0.0, f);
    for (uint32_t i = 0; i < f.size(); ++i) {
      const uint32_t c = chunk << 20 | i;
      const uint8_t l = uint8_t(model::luma(opaque(c)));
      if (f[i] != pixel(l, l, l, 0)) {
        ADD_FAILURE() << path << ": colour " << std::hex << c;
        return;
      }
    }
  }
}

TEST(kestrune_kernels, luma_of_every_colour) {
  expect_luma_of_every_colour(testhost::plugin_path("kestrune"));
  for (const testhost::variant& v : testhost::plugin_variants("kestrune")) {
    SCOPED_TRACE(v.name);
    expect_luma_of_every_colour(v.path);
  }
}

}  // namespace
