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
    ASSERT_TRUE(hosttest::updates_are_the_frames(r)) << k.params;
    const auto expected = hosttest::replay("vestrale", k.values, r.input, r.times, c);
    for (int f = 0; f < c.frames; ++f)
      ASSERT_EQ(r.output[f], expected[f]) << k.params << " frame " << f;
    // The effect did something: a moving source splits somewhere.
    EXPECT_NE(r.output.back(), r.input.back()) << k.params;
  }
}

// What ffmpeg hands a plug-in, by version: 5.1 and 7.1 pass milliseconds
// and, at widths that are not a multiple of 64, a meaningless time (5.1 also
// the rows padded), and update once per frame written; 9.0 passes seconds at
// every width and updates once more than it writes. vestrale ignores the
// time, so its bytes must match wherever the rows arrive as they are.
TEST_F(vestrale_in_ffmpeg, hands_over_the_time_as_its_version_does) {
  const hosttest::version v = hosttest::ffmpeg_version();
  clip c;
  c.frames = 3;
  const auto r = hosttest::run_ffmpeg("frei0r=filter_name=vestrale:filter_params=0|y", c);
  const auto& habit = hosttest::expected_ffmpeg_habit(v, r.times, c);
  const std::string which = "ffmpeg " + std::to_string(v.major) + "." + std::to_string(v.minor) +
                            ", expected to behave as " + habit.versions;
  ASSERT_EQ(r.output.size(), 3u) << which;
  ASSERT_EQ(r.times.size(), 3u + habit.extra_updates) << which;
  ASSERT_TRUE(hosttest::updates_are_the_frames(r)) << which;
  EXPECT_EQ(hosttest::replay("vestrale", {0, 1}, r.input, r.times, c), r.output) << which;
  for (size_t n = 0; n < r.times.size(); ++n)
    EXPECT_DOUBLE_EQ(r.times[n], n / (c.rate * habit.unit)) << which << ", update " << n;

  c.width = 330;
  const auto odd = hosttest::run_ffmpeg("frei0r=filter_name=vestrale:filter_params=0|y", c);
  ASSERT_EQ(odd.output.size(), 3u) << which;
  ASSERT_EQ(odd.times.size(), 3u + habit.extra_updates) << which;
  for (size_t n = 1; n < odd.times.size(); ++n) {
    if (habit.keeps_time_at_odd_widths)
      EXPECT_DOUBLE_EQ(odd.times[n], n / (c.rate * habit.unit)) << which << ", update " << n;
    else
      EXPECT_LT(odd.times[n], -1e19) << which << ", update " << n;
  }
  if (habit.keeps_rows_at_odd_widths) {
    ASSERT_TRUE(hosttest::updates_are_the_frames(odd)) << which;
    EXPECT_EQ(hosttest::replay("vestrale", {0, 1}, odd.input, odd.times, c), odd.output)
        << which;
  } else {
    // Rows padded to 336 pixels, read as 330: the first row arrives as it
    // is, from the second on the plug-in sees them sheared.
    ASSERT_EQ(odd.updates.size(), 3u) << which;
    const auto row = [&](const testhost::frame& f, size_t y) {
      return testhost::frame(f.begin() + y * c.width, f.begin() + (y + 1) * c.width);
    };
    EXPECT_EQ(row(odd.updates[0], 0), row(odd.input[0], 0)) << which;
    EXPECT_EQ(testhost::frame(odd.updates[0].begin() + 336, odd.updates[0].begin() + 336 + 330),
              row(odd.input[0], 1))
        << which;
  }

  // Users must be told every version's habit, where they look for how to
  // use ffmpeg.
  std::ifstream readme(EFFECTS_SOURCE_DIR "/README.md");
  std::stringstream text;
  text << readme.rdbuf();
  for (const char* says : {"| 5.1 |", "| 7.1 |", "| 9.0 |", "in **milliseconds**",
                           "**not a multiple of 64**", "in **seconds**", "one `f0r_update` more",
                           "rows 336 pixels"})
    EXPECT_NE(text.str().find(says), std::string::npos) << says;
}

}  // namespace
