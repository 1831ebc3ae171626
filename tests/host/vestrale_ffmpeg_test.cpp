// vestrale inside ffmpeg: the bytes ffmpeg's frei0r filter produces must be
// the test host's bytes for the same input frames.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ffmpeg_run.h"

namespace {

using hosttest::clip;

class vestrale_in_ffmpeg : public testing::Test {
 protected:
  void SetUp() override {
    if (!hosttest::ffmpeg_available()) GTEST_SKIP() << "no ffmpeg with frei0r";
  }
};

TEST_F(vestrale_in_ffmpeg, smooth_and_simple_modes_match_the_test_host) {
  clip c;
  c.frames = 36;
  const std::vector<double> times = hosttest::ffmpeg_times(c);
  ASSERT_EQ(times.size(), size_t(c.frames));
  // filter_params are positional; booleans are y/n.
  const struct {
    const char* params;
    std::vector<double> values;
  } cases[] = {{"0.2|n", {0.2, 0.0}}, {"0.4|y", {0.4, 1.0}}, {"1.0|n", {1.0, 0.0}}};
  for (const auto& k : cases) {
    const auto r = hosttest::run_ffmpeg(
        std::string("frei0r=filter_name=vestrale:filter_params=") + k.params, c);
    ASSERT_EQ(r.input.size(), size_t(c.frames)) << k.params;
    ASSERT_EQ(r.output.size(), size_t(c.frames)) << k.params;
    const auto expected = hosttest::replay("vestrale", k.values, r.input, times, c);
    for (int f = 0; f < c.frames; ++f)
      ASSERT_EQ(r.output[f], expected[f]) << k.params << " frame " << f;
    // The effect did something: a moving source splits somewhere.
    EXPECT_NE(r.output.back(), r.input.back()) << k.params;
  }
}

TEST_F(vestrale_in_ffmpeg, passes_milliseconds_and_loses_time_off_64_widths) {
  clip c;
  c.frames = 3;
  const std::vector<double> times = hosttest::ffmpeg_times(c);
  ASSERT_EQ(times.size(), 3u);
  EXPECT_EQ(times[0], 0.0);
  EXPECT_DOUBLE_EQ(times[1], 1000.0 / c.rate);
  EXPECT_DOUBLE_EQ(times[2], 2000.0 / c.rate);
  c.width = 330;
  const std::vector<double> odd = hosttest::ffmpeg_times(c);
  ASSERT_EQ(odd.size(), 3u);
  EXPECT_LT(odd[1], -1e19);

  // Users must be told both, where they look for how to use ffmpeg.
  std::ifstream readme(EFFECTS_SOURCE_DIR "/README.md");
  std::stringstream text;
  text << readme.rdbuf();
  EXPECT_NE(text.str().find("in **milliseconds**"), std::string::npos);
  EXPECT_NE(text.str().find("**not a multiple of 64**"), std::string::npos);
}

}  // namespace
