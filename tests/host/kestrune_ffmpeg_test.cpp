// kestrune inside ffmpeg: the bytes ffmpeg's frei0r filter produces must be
// the test host's bytes for the same input frames and times, in every mode.
// ffmpeg 5.1 … 7.1 pass milliseconds, so the Time Offset's 0..2 "seconds" are
// 0..2 ms there and every frame is compared with the one before it; 9.0
// passes seconds, and the offset delays as it says.
#include <gtest/gtest.h>

#include "ffmpeg_run.h"

namespace {

using hosttest::clip;

class kestrune_in_ffmpeg : public testing::Test {
 protected:
  void SetUp() override {
    if (!hosttest::ffmpeg_available()) GTEST_SKIP() << "no ffmpeg with frei0r";
  }
};

TEST_F(kestrune_in_ffmpeg, every_mode_matches_the_test_host) {
  clip c;  // 320 wide: ffmpeg 5.1 … 7.1 keep the time only for widths of a multiple of 64
  c.frames = 16;
  // Time Offset|Mode|Blend|Contrast|Threshold|Monochrome; booleans are y/n,
  // the doubles binary fractions that survive ffmpeg's parsing exactly.
  const struct {
    const char* params;
    std::vector<double> values;
  } cases[] = {
      {"0.5|0|0.5|0.25|0.0625|n", {0.5, 0, 0.5, 0.25, 0.0625, 0}},
      {"1|0.5|0.5|0.5|0|n", {1, 0.5, 0.5, 0.5, 0, 0}},
      {"0|1|0.5|1|0.125|y", {0, 1, 0.5, 1, 0.125, 1}},
      {"0.25|0|0.75|0|0|y", {0.25, 0, 0.75, 0, 0, 1}},
  };
  for (const auto& k : cases) {
    const auto r = hosttest::run_ffmpeg(
        std::string("frei0r=filter_name=kestrune:filter_params=") + k.params, c);
    ASSERT_EQ(r.input.size(), size_t(c.frames)) << k.params;
    ASSERT_EQ(r.output.size(), size_t(c.frames)) << k.params;
    ASSERT_TRUE(hosttest::updates_are_the_frames(r)) << k.params;
    const auto& habit = hosttest::expected_ffmpeg_habit(hosttest::ffmpeg_version(), r.times, c);
    ASSERT_EQ(r.times.size(), size_t(c.frames + habit.extra_updates)) << k.params;
    ASSERT_EQ(r.times[1], 1 / (c.rate * habit.unit)) << k.params;
    const auto expected = hosttest::replay("kestrune", k.values, r.input, r.times, c);
    for (int f = 0; f < c.frames; ++f)
      ASSERT_EQ(r.output[f], expected[f]) << k.params << " frame " << f;
    // In milliseconds any offset compares with the previous frame; in
    // seconds only 0 does, and the others show an older one.
    std::vector<double> previous_frame = k.values;
    previous_frame[0] = 0.0;
    const auto against_previous =
        hosttest::replay("kestrune", previous_frame, r.input, r.times, c);
    if (habit.unit < 1 || k.values[0] == 0)
      EXPECT_EQ(against_previous, r.output) << k.params;
    else
      EXPECT_NE(against_previous.back(), r.output.back()) << k.params;
    // The source moves, so the difference is not the same picture twice.
    EXPECT_NE(r.output.back(), r.output[c.frames - 2]) << k.params;
  }
}

// At the defaults the first frame is compared with itself: mid grey with the
// source's alpha.
TEST_F(kestrune_in_ffmpeg, defaults_start_from_mid_grey) {
  clip c;
  c.frames = 3;
  const auto r = hosttest::run_ffmpeg("frei0r=filter_name=kestrune", c);
  ASSERT_EQ(r.output.size(), size_t(c.frames));
  for (size_t i = 0; i < r.output[0].size(); ++i)
    ASSERT_EQ(r.output[0][i], testhost::pixel(128, 128, 128, testhost::byte_of(r.input[0][i], 3)))
        << i;
}

}  // namespace
