// vestrale through the test host: parameter mapping, both modes frame by
// frame, restarts, allocation failure, and a long random clip against an
// independent model of the effect.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "alloc_fail.h"
#include "plugin_host.h"

namespace {

using testhost::byte_of;
using testhost::frame;
using testhost::pixel;

constexpr int DELAY = 0;
constexpr int SIMPLE = 1;
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

class vestrale : public testing::Test {
 protected:
  testhost::plugin p{testhost::plugin_path("vestrale")};
};

// Frame k of a test clip: every pixel different, every byte telling which
// frame it came from.
frame clip_frame(size_t pixels, int k) {
  frame f(pixels);
  for (size_t i = 0; i < pixels; ++i)
    f[i] = pixel(uint8_t(k * 4 + i), uint8_t(k * 4 + i + 64), uint8_t(k * 4 + i + 128),
                 uint8_t(k * 4 + i + 192));
  return f;
}

// Pixel made of the bytes of three frames: red of r, green of g, blue and
// alpha of b.
uint32_t split_pixel(uint32_t r, uint32_t g, uint32_t b) {
  return pixel(byte_of(r, 0), byte_of(g, 1), byte_of(b, 2), byte_of(b, 3));
}

// The effect described plainly: smooth mode keeps every frame since the last
// restart, simple mode one composite frame.
struct model {
  explicit model(size_t pixel_count) : pixels(pixel_count) {}

  void set(int index, double x) {
    if (index == DELAY) {
      double v = std::isnan(x) ? 0.0 : std::fmin(std::fmax(x, 0.0), 1.0);
      delay = unsigned(v * 15.0) + 1;
    } else if (index == SIMPLE) {
      const bool b = x >= 0.5;
      if (b != simple) {
        simple = b;
        restart();
      }
    }
  }

  frame update(const frame& in) {
    if (simple) return update_simple(in);
    if (built_for != delay) {
      restart();
      built_for = delay;
    }
    history.push_back(in);
    const size_t n = counter++;
    const frame& red = history[n - std::min<size_t>(2 * delay, n)];
    const frame& green = history[n - std::min<size_t>(delay, n)];
    frame out(pixels);
    for (size_t i = 0; i < pixels; ++i) out[i] = split_pixel(red[i], green[i], in[i]);
    return out;
  }

  frame update_simple(const frame& in) {
    if (counter == 0) {
      composite = in;
    } else {
      const int c = int(((counter - 1) / delay) % 3);
      for (size_t i = 0; i < pixels; ++i) {
        uint8_t b[4];
        std::memcpy(b, &composite[i], 4);
        b[c] = byte_of(in[i], c);
        b[3] = byte_of(in[i], 3);
        std::memcpy(&composite[i], b, 4);
      }
    }
    ++counter;
    return composite;
  }

  void restart() {
    counter = 0;
    history.clear();
    built_for = 0;
  }

  size_t pixels;
  unsigned delay = 1;
  bool simple = false;
  unsigned built_for = 0;
  size_t counter = 0;
  std::deque<frame> history;
  frame composite;
};

TEST_F(vestrale, describes_itself_and_its_two_parameters) {
  const f0r_plugin_info_t info = p.info();
  EXPECT_STREQ(info.name, "vestrale");
  EXPECT_STREQ(info.author, "Halvestrom");
  EXPECT_STREQ(info.explanation, "Harris shutter effect: dynamic RGB split with a delay");
  EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
  EXPECT_EQ(info.major_version, 1);
  EXPECT_EQ(info.minor_version, 0);
  EXPECT_EQ(info.num_params, 2);

  const f0r_param_info_t delay = p.param_info(DELAY);
  EXPECT_STREQ(delay.name, "Delay");
  EXPECT_EQ(delay.type, F0R_PARAM_DOUBLE);
  EXPECT_STREQ(delay.explanation, "Harris shutter color filtering delay");
  const f0r_param_info_t simple = p.param_info(SIMPLE);
  EXPECT_STREQ(simple.name, "Simple");
  EXPECT_EQ(simple.type, F0R_PARAM_BOOL);
  EXPECT_STREQ(simple.explanation,
               "Use simple effect instead of smooth. Reduces RAM usage, less "
               "eye-pleasing");

  auto inst = p.construct(4, 4);
  EXPECT_EQ(inst.get(DELAY), 0.0);
  EXPECT_EQ(inst.get(SIMPLE), 0.0);
}

TEST_F(vestrale, delay_maps_to_whole_frames_and_reads_back_truncated) {
  auto inst = p.construct(2, 2);
  const struct {
    double set, read;
  } cases[] = {{0.5, 7.0 / 15.0},    {1.0, 1.0},  {-3.0, 0.0}, {NaN, 0.0},
               {7.0, 1.0},           {inf, 1.0},  {-inf, 0.0}, {1.0 / 15.0 - 1e-12, 0.0},
               {0.999, 14.0 / 15.0}, {-0.0, 0.0}, {1e300, 1.0}};
  for (const auto& c : cases) {
    inst.set(DELAY, c.set);
    EXPECT_EQ(inst.get(DELAY), c.read) << "set " << c.set;
  }
  for (int k = 0; k <= 15; ++k) {
    inst.set(DELAY, k / 15.0);
    EXPECT_EQ(inst.get(DELAY), k / 15.0) << k;
  }
}

TEST_F(vestrale, simple_is_on_from_one_half) {
  auto inst = p.construct(2, 2);
  inst.set(SIMPLE, 0.49);
  EXPECT_EQ(inst.get(SIMPLE), 0.0);
  inst.set(SIMPLE, 0.5);
  EXPECT_EQ(inst.get(SIMPLE), 1.0);
  inst.set(SIMPLE, NaN);
  EXPECT_EQ(inst.get(SIMPLE), 0.0);
  inst.set(SIMPLE, inf);
  EXPECT_EQ(inst.get(SIMPLE), 1.0);
  inst.set(SIMPLE, -inf);
  EXPECT_EQ(inst.get(SIMPLE), 0.0);
}

TEST_F(vestrale, smooth_delay_one_splits_the_last_three_frames) {
  auto inst = p.construct(3, 1);
  std::vector<frame> in;
  for (int k = 0; k < 5; ++k) in.push_back(clip_frame(3, k));

  EXPECT_EQ(inst.update(0.0, in[0]), in[0]);
  // n = 1: red and green from n = 0, blue and alpha from n = 1.
  const frame out1 = inst.update(0.0, in[1]);
  EXPECT_EQ(out1[0], pixel(0, 64, 132, 196));
  EXPECT_EQ(out1[2], pixel(2, 66, 134, 198));
  // n = 2: red from n = 0, green from n = 1.
  const frame out2 = inst.update(0.0, in[2]);
  EXPECT_EQ(out2[1], pixel(1, 69, 137, 201));
  const frame out3 = inst.update(0.0, in[3]);
  EXPECT_EQ(out3[0], pixel(4, 72, 140, 204));
}

TEST_F(vestrale, smooth_delay_sixteen_lags_red_32_and_green_16_frames) {
  auto inst = p.construct(5, 3);
  inst.set(DELAY, 1.0);
  std::vector<frame> in;
  for (int n = 0; n < 40; ++n) {
    in.push_back(testhost::random_frame(15, n));
    const frame out = inst.update(n, in[n]);
    const int red = n - std::min(32, n), green = n - std::min(16, n);
    for (size_t i = 0; i < 15; ++i)
      ASSERT_EQ(out[i], split_pixel(in[red][i], in[green][i], in[n][i]))
          << "n " << n << " pixel " << i;
  }
}

TEST_F(vestrale, simple_mode_refreshes_one_channel_at_a_time) {
  auto inst = p.construct(1, 1);
  inst.set(SIMPLE, 1.0);
  // Delay 1: n = 0 whole frame, then red, green, blue, red.
  const uint32_t in[] = {pixel(10, 11, 12, 13), pixel(20, 21, 22, 23), pixel(30, 31, 32, 33),
                         pixel(40, 41, 42, 43), pixel(50, 51, 52, 53)};
  const uint32_t expected[] = {pixel(10, 11, 12, 13), pixel(20, 11, 12, 23), pixel(20, 31, 12, 33),
                               pixel(20, 31, 42, 43), pixel(50, 31, 42, 53)};
  for (int n = 0; n < 5; ++n) EXPECT_EQ(inst.update(0.0, frame{in[n]})[0], expected[n]) << n;
}

TEST_F(vestrale, simple_mode_delay_three_and_a_delay_change_without_restart) {
  auto inst = p.construct(1, 1);
  inst.set(SIMPLE, 1.0);
  inst.set(DELAY, 2.0 / 15.0);  // delay 3
  // Frame n carries byte value n in every channel; the output shows, per
  // channel, the frame at which it was last refreshed.
  uint32_t out = 0;
  for (int n = 0; n <= 10; ++n) {
    const uint8_t v = uint8_t(n);
    out = inst.update(0.0, frame{pixel(v, v, v, v)})[0];
    const int c = n == 0 ? -1 : ((n - 1) / 3) % 3;
    if (c >= 0) {
      EXPECT_EQ(byte_of(out, c), n) << n;
    }
    EXPECT_EQ(byte_of(out, 3), n) << n;
  }
  EXPECT_EQ(out, pixel(10, 6, 9, 10));

  // At n = 11 a change to delay 16 keeps the counter: (11 - 1) / 16 = 0,
  // red again.
  inst.set(DELAY, 1.0);
  EXPECT_EQ(inst.update(0.0, frame{pixel(99, 99, 99, 99)})[0], pixel(99, 6, 9, 99));
}

TEST_F(vestrale, still_pictures_pass_unchanged_in_both_modes) {
  const frame still = testhost::random_frame(7 * 5, 3);
  for (double simple : {0.0, 1.0}) {
    for (double delay : {0.0, 0.4, 1.0}) {
      auto inst = p.construct(7, 5);
      inst.set(SIMPLE, simple);
      inst.set(DELAY, delay);
      for (int n = 0; n < 40; ++n)
        ASSERT_EQ(inst.update(n, still), still) << simple << " " << delay;
    }
  }
}

TEST_F(vestrale, restarts_on_mode_switch_and_smooth_delay_change_only) {
  const size_t px = 6;
  auto inst = p.construct(3, 2);
  for (int n = 0; n < 4; ++n) inst.update(0.0, clip_frame(px, n));
  // Present values, set again as hosts do before every frame: no restart.
  inst.set(SIMPLE, 0.0);
  inst.set(DELAY, 0.0);
  EXPECT_NE(inst.update(0.0, clip_frame(px, 4)), clip_frame(px, 4));

  inst.set(SIMPLE, 1.0);
  EXPECT_EQ(inst.update(0.0, clip_frame(px, 5)), clip_frame(px, 5));
  EXPECT_NE(inst.update(0.0, clip_frame(px, 6)), clip_frame(px, 6));
  inst.set(SIMPLE, 0.7);  // still on: the counter runs on
  EXPECT_NE(inst.update(0.0, clip_frame(px, 7)), clip_frame(px, 7));
  inst.set(SIMPLE, 0.0);
  EXPECT_EQ(inst.update(0.0, clip_frame(px, 8)), clip_frame(px, 8));
  EXPECT_NE(inst.update(0.0, clip_frame(px, 9)), clip_frame(px, 9));
  inst.set(DELAY, 0.5);
  EXPECT_EQ(inst.update(0.0, clip_frame(px, 10)), clip_frame(px, 10));

  // A different delay before every smooth update rebuilds every time.
  for (int n = 11; n < 20; ++n) {
    inst.set(DELAY, n % 2 ? 0.2 : 0.9);
    EXPECT_EQ(inst.update(0.0, clip_frame(px, n)), clip_frame(px, n)) << n;
  }
}

// The shipped build and every build held to a lower instruction set, at
// sizes that leave partial vectors at both ends of a pass (every slot of a
// ring of odd-sized frames starts at another alignment), separately and in
// place, against the model over a clip whose parameters jump about, stand
// still and are set again unchanged.
TEST_F(vestrale, random_clip_matches_the_model_in_every_build) {
  std::vector<std::string> paths = {testhost::plugin_path("vestrale")};
  for (const testhost::variant& v : testhost::plugin_variants("vestrale")) paths.push_back(v.path);
  const struct {
    unsigned w, h;
  } sizes[] = {{9, 7}, {1, 1}, {1, 7}, {7, 1}, {3, 5}, {33, 3}, {64, 2}, {17, 17}};
  for (const std::string& path : paths) {
    testhost::plugin build(path);
    for (const auto& size : sizes) {
      const unsigned w = size.w, h = size.h;
      for (bool in_place : {false, true}) {
        auto inst = build.construct(w, h);
        model m(w * h);
        uint64_t x = 12345;
        for (int n = 0; n < 400; ++n) {
          x = x * 6364136223846793005ull + 1442695040888963407ull;
          const unsigned roll = unsigned(x >> 33) % 64;
          if (roll == 0) {
            const double s = (x >> 20) % 2 ? 0.8 : 0.1;
            inst.set(SIMPLE, s);
            m.set(SIMPLE, s);
          } else if (roll < 4) {
            const double d = double((x >> 12) % 1000) / 900.0 - 0.05;
            inst.set(DELAY, d);
            m.set(DELAY, d);
          } else if (roll < 12) {
            // Present values again, as a host may set them before every frame.
            inst.set(DELAY, inst.get(DELAY));
            inst.set(SIMPLE, inst.get(SIMPLE));
          }
          frame in = testhost::random_frame(w * h, n);
          const frame expected = m.update(in);
          if (in_place) {
            inst.update_in_place(n * 0.04, in);
            ASSERT_EQ(in, expected)
                << path << " " << w << "x" << h << " frame " << n << " in place";
          } else {
            ASSERT_EQ(inst.update(NaN, in), expected)
                << path << " " << w << "x" << h << " frame " << n;
          }
        }
      }
    }
  }
}

TEST_F(vestrale, refuses_frames_beyond_the_size_bound) {
  EXPECT_FALSE(p.construct(1u << 31, 1u << 31).valid());
  EXPECT_FALSE(p.construct(0xFFFFFFFFu, 0xFFFFFFFFu).valid());
  // Just below 2^62 pixels the record is made; frame memory waits for the
  // first update.
  EXPECT_TRUE(p.construct(1u << 31, (1u << 31) - 1).valid());
}

TEST_F(vestrale, failed_construction_leaks_nothing) {
  alloc_fail::scope fail(1);
  EXPECT_FALSE(p.construct(64, 48).valid());
  EXPECT_EQ(alloc_fail::outstanding(), 0);
}

TEST_F(vestrale, update_without_memory_passes_through_and_stands_still) {
  for (double simple : {0.0, 1.0}) {
    const size_t px = 12;
    auto inst = p.construct(4, 3);
    inst.set(SIMPLE, simple);
    model m(px);
    m.set(SIMPLE, simple);
    const frame in = clip_frame(px, 0);
    frame out(px, 0), shared = in;
    {
      alloc_fail::scope fail(1, true);
      inst.update(0.0, in.data(), out.data());
      inst.update_in_place(0.0, shared);
    }
    EXPECT_EQ(out, in);
    EXPECT_EQ(shared, in);
    // The next updates behave as if the failed ones never happened.
    for (int n = 1; n < 12; ++n)
      ASSERT_EQ(inst.update(0.0, clip_frame(px, n)), m.update(clip_frame(px, n)))
          << simple << " " << n;
  }
}

TEST_F(vestrale, failed_ring_resize_keeps_the_old_ring) {
  const size_t px = 12;
  auto inst = p.construct(4, 3);
  model m(px);
  for (int n = 0; n < 5; ++n)
    ASSERT_EQ(inst.update(0.0, clip_frame(px, n)), m.update(clip_frame(px, n)));

  inst.set(DELAY, 0.2);  // delay 4: 9 slots instead of 3
  const frame in50 = clip_frame(px, 50), in51 = clip_frame(px, 51);
  frame out50(px), out51(px);
  {
    alloc_fail::scope fail(1, true);
    inst.update(0.0, in50.data(), out50.data());
    inst.update(0.0, in51.data(), out51.data());
  }
  EXPECT_EQ(out50, in50);
  EXPECT_EQ(out51, in51);
  // Back at the delay the ring was built for, the clip goes on where it was.
  inst.set(DELAY, 0.0);
  for (int n = 5; n < 10; ++n)
    ASSERT_EQ(inst.update(0.0, clip_frame(px, n)), m.update(clip_frame(px, n))) << n;

  // And a later resize that succeeds starts afresh.
  inst.set(DELAY, 0.2);
  m.set(DELAY, 0.2);
  for (int n = 10; n < 30; ++n)
    ASSERT_EQ(inst.update(0.0, clip_frame(px, n)), m.update(clip_frame(px, n))) << n;
}

}  // namespace
