// bramquil inside ffmpeg: the bytes ffmpeg's frei0r filter produces must be
// the test host's bytes for the same input frames and times, in both
// compositions and orientations, and the picture must move on from frame to
// frame (ffmpeg's times only have to increase for that).
#include <gtest/gtest.h>

#include "ffmpeg_run.h"

namespace {

using hosttest::clip;

class bramquil_in_ffmpeg : public testing::Test {
 protected:
  void SetUp() override {
    if (!hosttest::ffmpeg_available()) GTEST_SKIP() << "no ffmpeg with frei0r";
  }
};

TEST_F(bramquil_in_ffmpeg, scan_and_stargate_match_the_test_host) {
  clip c;  // 320 wide: ffmpeg 5.1 … 7.1 keep the time only for widths of a multiple of 64
  c.frames = 24;
  // Mode|Position|Vertical|Width|Reverse|Depth|Fade; booleans are y/n, the
  // doubles binary fractions that survive ffmpeg's parsing exactly.
  const struct {
    const char* params;
    std::vector<double> values;
  } cases[] = {
      {"0|0.5|y|0|n|0.25|1", {0, 0.5, 1, 0, 0, 0.25, 1}},
      {"0|0.375|n|0.125|y|0.25|1", {0, 0.375, 0, 0.125, 1, 0.25, 1}},
      {"1|0.5|y|0.0625|n|0.25|1", {1, 0.5, 1, 0.0625, 0, 0.25, 1}},
      {"1|0.625|n|0.5|y|0.75|0.5", {1, 0.625, 0, 0.5, 1, 0.75, 0.5}},
  };
  for (const auto& k : cases) {
    const auto r = hosttest::run_ffmpeg(
        std::string("frei0r=filter_name=bramquil:filter_params=") + k.params, c);
    ASSERT_EQ(r.input.size(), size_t(c.frames)) << k.params;
    ASSERT_EQ(r.output.size(), size_t(c.frames)) << k.params;
    ASSERT_TRUE(hosttest::updates_are_the_frames(r)) << k.params;
    ASSERT_GE(r.times.size(), size_t(c.frames)) << k.params;
    for (int f = 1; f < c.frames; ++f) ASSERT_GT(r.times[f], r.times[f - 1]) << f;
    const auto expected = hosttest::replay("bramquil", k.values, r.input, r.times, c);
    for (int f = 0; f < c.frames; ++f)
      ASSERT_EQ(r.output[f], expected[f]) << k.params << " frame " << f;
    EXPECT_NE(r.output.back(), r.output[c.frames - 2]) << k.params;
  }
}

// At the defaults the first frame comes back unchanged and each later one
// pushes one column, the middle one, in at the right edge.
TEST_F(bramquil_in_ffmpeg, defaults_scan_the_middle_column) {
  clip c;
  c.frames = 6;
  const auto r = hosttest::run_ffmpeg("frei0r=filter_name=bramquil", c);
  ASSERT_EQ(r.output.size(), size_t(c.frames));
  EXPECT_EQ(r.output[0], r.input[0]);
  for (int f = 1; f < c.frames; ++f)
    for (unsigned y = 0; y < c.height; ++y) {
      const size_t row = size_t(y) * c.width;
      ASSERT_EQ(r.output[f][row + c.width - 1], r.input[f][row + c.width / 2]) << f;
      ASSERT_EQ(r.output[f][row + c.width - 2], r.output[f - 1][row + c.width - 1]) << f;
    }
}

}  // namespace
