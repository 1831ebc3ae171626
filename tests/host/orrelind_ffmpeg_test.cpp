// Orrelind inside ffmpeg: ffmpeg hands this plug-in bgra frames (its colour
// model is BGRA8888), and the bytes its frei0r filter produces must be the
// test host's bytes for the same input frames.
#include <gtest/gtest.h>

#include "ffmpeg_run.h"

namespace {

using hosttest::clip;

class orrelind_in_ffmpeg : public testing::Test {
 protected:
  void SetUp() override {
    if (!hosttest::ffmpeg_available()) GTEST_SKIP() << "no ffmpeg with frei0r";
  }
};

TEST_F(orrelind_in_ffmpeg, whirl_pinch_and_off_centre_match_the_test_host) {
  clip c;
  c.frames = 12;
  c.pix_fmt = "bgra";
  // Whirl|Pinch|Radius|Center X|Center Y, binary fractions that survive
  // ffmpeg's parsing exactly.
  const struct {
    const char* params;
    std::vector<double> values;
  } cases[] = {
      {"0.875|0.5|0.5|0.5|0.5", {0.875, 0.5, 0.5, 0.5, 0.5}},
      {"0.5|0.8125|0.75|0.5|0.5", {0.5, 0.8125, 0.75, 0.5, 0.5}},
      {"0.25|0.3125|0.375|0.25|0.625", {0.25, 0.3125, 0.375, 0.25, 0.625}},
  };
  for (const auto& k : cases) {
    const auto r = hosttest::run_ffmpeg(
        std::string("frei0r=filter_name=Orrelind:filter_params=") + k.params, c);
    ASSERT_EQ(r.input.size(), size_t(c.frames)) << k.params;
    ASSERT_EQ(r.output.size(), size_t(c.frames)) << k.params;
    ASSERT_TRUE(hosttest::updates_are_the_frames(r)) << k.params;
    const auto expected = hosttest::replay("Orrelind", k.values, r.input, r.times, c);
    for (int f = 0; f < c.frames; ++f)
      ASSERT_EQ(r.output[f], expected[f]) << k.params << " frame " << f;
    EXPECT_NE(r.output.back(), r.input.back()) << k.params;
  }
}

TEST_F(orrelind_in_ffmpeg, defaults_pass_the_clip_through) {
  clip c;
  c.frames = 4;
  c.pix_fmt = "bgra";
  const auto r = hosttest::run_ffmpeg("frei0r=filter_name=Orrelind", c);
  ASSERT_EQ(r.output.size(), size_t(c.frames));
  for (int f = 0; f < c.frames; ++f) ASSERT_EQ(r.output[f], r.input[f]) << f;
}

}  // namespace
