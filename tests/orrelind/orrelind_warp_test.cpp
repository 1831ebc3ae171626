// The Orrelind warp: pass-through rules, pixels worked out by hand, alpha
// weighting, borders, awkward sizes, and the plug-in against the plain model
// over random frames and settings, in place and with separate buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "orrelind_model.h"
#include "plugin_host.h"

namespace {

using orrelind_model::CENTER_X;
using orrelind_model::CENTER_Y;
using orrelind_model::PINCH;
using orrelind_model::RADIUS;
using orrelind_model::WHIRL;
using orrelind_model::with;
using testhost::byte_of;
using testhost::frame;
using testhost::pixel;

class orrelind_warp : public testing::Test {
 protected:
  testhost::plugin p{testhost::plugin_path("Orrelind")};

  testhost::instance make(unsigned w, unsigned h, const orrelind_model::settings& s) {
    auto inst = p.construct(w, h);
    EXPECT_TRUE(inst.valid());
    for (int i = 0; i < orrelind_model::PARAM_COUNT; ++i) inst.set(i, s.v[i]);
    return inst;
  }
};

// The pixel with its alpha byte replaced, in either byte order.
uint32_t with_alpha(uint32_t px, uint8_t alpha) {
  return pixel(byte_of(px, 0), byte_of(px, 1), byte_of(px, 2), alpha);
}

// Opaque ramps: byte 0 is 12 x, byte 1 is 12 y, byte 2 a constant. Bilinear
// interpolation reproduces a ramp, so a warped pixel shows its own source
// point: byte 0 rounds 12 sx, byte 1 rounds 12 sy.
frame ramp_frame(unsigned w, unsigned h) {
  frame f(size_t(w) * h);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      f[size_t(y) * w + x] = pixel(uint8_t(12 * x), uint8_t(12 * y), 77, 255);
  return f;
}

// Random colours over alpha that is 0, 255 or random in patches, so that
// neighbourhoods of one alpha (transparent ones included) and of mixed alpha
// both occur often.
frame patchy_frame(unsigned w, unsigned h, uint64_t seed) {
  frame f = testhost::random_frame(size_t(w) * h, seed);
  std::mt19937 g{uint32_t(seed)};
  const unsigned patch = 1 + g() % 5;
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x) {
      uint32_t& px = f[size_t(y) * w + x];
      const unsigned kind = ((x / patch) * 7 + (y / patch) * 13 + seed) % 4;
      const uint8_t alpha = kind == 0 ? 0 : kind == 1 ? 255 : kind == 2 ? 128 : byte_of(px, 3);
      px = with_alpha(px, alpha);
    }
  return f;
}

TEST_F(orrelind_warp, defaults_pass_frames_through_byte_for_byte) {
  for (auto [w, h] : {std::pair{64u, 48u}, {1u, 1u}, {7u, 1u}, {1u, 9u}}) {
    auto inst = make(w, h, {});
    const frame in = testhost::random_frame(size_t(w) * h, w * 100 + h);
    EXPECT_EQ(inst.update(0.0, in), in);
    frame shared = in;
    inst.update_in_place(0.0, shared);
    EXPECT_EQ(shared, in);
  }
}

TEST_F(orrelind_warp, radius_below_half_a_pixel_passes_through) {
  // 4 x 3: centre (1.5, 1), so pixels (1, 1) and (2, 1) lie 0.5 from it.
  // A warp radius of 0.51 warps them, one of 0.48 leaves the frame alone.
  frame in(12);
  for (unsigned i = 0; i < 12; ++i) in[i] = i < 4 ? pixel(255, 255, 255, 255) : pixel(0, 0, 0, 255);
  for (double whirl : {0.0, 1.0})
    for (double pinch : {0.0, 1.0}) {
      auto warped = with({{WHIRL, whirl}, {PINCH, pinch}, {RADIUS, 0.17}});
      auto still = with({{WHIRL, whirl}, {PINCH, pinch}, {RADIUS, 0.16}});
      const frame out = make(4, 3, warped).update(0.0, in);
      EXPECT_EQ(out, orrelind_model::warp(in, 4, 3, warped));
      EXPECT_EQ(make(4, 3, still).update(0.0, in), in);
      if (whirl == 1.0) {
        EXPECT_NE(out, in) << pinch;
      }
    }
  // A single pixel never changes: too small a radius, or it is the centre.
  for (double radius : {0.1, 1.0}) {
    auto inst = make(1, 1, with({{WHIRL, 0.0}, {PINCH, 1.0}, {RADIUS, radius}}));
    EXPECT_EQ(inst.update(0.0, frame{0x12345678u}), frame{0x12345678u});
  }
}

TEST_F(orrelind_warp, neutral_thresholds_and_single_effects) {
  // Transparent pixels with colour show whether the warp ran: a warped one
  // becomes 0, a copied one keeps its colour bytes.
  frame in = testhost::random_frame(31 * 21, 5);
  for (uint32_t& px : in) px = with_alpha(px, 0);
  const unsigned centre = 10 * 31 + 15;
  const unsigned beside = centre + 2;

  auto run = [&](double whirl, double pinch) {
    return make(31, 21, with({{WHIRL, whirl}, {PINCH, pinch}})).update(0.0, in);
  };
  EXPECT_EQ(run(0.5, 0.5 + 1e-13), in);
  EXPECT_EQ(run(0.5 + 1e-14, 0.5), in);
  EXPECT_EQ(run(0.5 + 1e-14, 0.5 - 1e-13), in);
  // Either effect alone above the threshold warps.
  for (auto [whirl, pinch] :
       {std::pair{0.5, 0.75}, {0.25, 0.5}, {0.5, 0.5 + 1e-11}, {0.5 + 1e-12, 0.5}}) {
    const frame out = run(whirl, pinch);
    EXPECT_EQ(out[beside], 0u) << whirl << " " << pinch;
    EXPECT_EQ(out[centre], in[centre]);
    EXPECT_EQ(out[0], in[0]);
  }
}

TEST_F(orrelind_warp, example_17x16_keeps_the_rim_and_the_centre) {
  // Centre (8, 0), warp radius 16 x 0.25 = 4, whirl 0.75 x 8 pi - 4 pi = 2 pi.
  const auto s = with({{WHIRL, 0.75}, {RADIUS, 0.25}, {CENTER_X, 0.5}, {CENTER_Y, 0.0}});
  const frame in = ramp_frame(17, 16);
  const frame out = make(17, 16, s).update(0.0, in);
  for (unsigned y = 0; y < 16; ++y)
    for (unsigned x = 0; x < 17; ++x) {
      const int dx = int(x) - 8, dy = int(y);
      const bool warped = dx * dx + dy * dy < 16 && !(dx == 0 && dy == 0);
      if (!warped) {
        EXPECT_EQ(out[y * 17 + x], in[y * 17 + x]) << x << "," << y;
      }
    }
  // (11, 0): r = 3/4, t^2 = 1/16, so it turns by 2 pi / 16 = pi / 8 and keeps
  // its distance 3: the source is (8 + 3 cos pi/8, 3 sin pi/8)
  // = (10.7716, 1.1481), and 12 x that is (129.26, 13.78).
  EXPECT_EQ(out[11], pixel(129, 14, 77, 255));
  EXPECT_NE(out[11], in[11]);
  // (8, 2): r = 1/2, t^2 = 1/4, turned by pi / 2 from straight down to
  // straight left: source (6, 0) up to rounding, 12 x = (72, 0).
  EXPECT_EQ(out[2 * 17 + 8], pixel(72, 0, 77, 255));
  EXPECT_EQ(out, orrelind_model::warp(in, 17, 16, s));
}

TEST_F(orrelind_warp, pinch_moves_pixels_along_their_radius) {
  // 32 x 33, centre (0, 16), warp radius 8: on the centre row a pixel at
  // x = 4 (r = 1/2, t^2 = 1/4) fetches from x = (1/4 P + 1) x 4.
  const frame in = ramp_frame(32, 33);
  for (auto [pinch, sx] :
       {std::pair{1.0, 5.0}, {0.0, 3.0}, {0.75, 4.5}, {0.625, 4.25}, {0.375, 3.75}}) {
    const auto s = with({{PINCH, pinch}, {RADIUS, 0.25}, {CENTER_X, 0.0}});
    const frame out = make(32, 33, s).update(0.0, in);
    EXPECT_EQ(out[16 * 32 + 4], pixel(uint8_t(12 * sx + 0.5), 12 * 16, 77, 255)) << pinch;
    EXPECT_EQ(out, orrelind_model::warp(in, 32, 33, s)) << pinch;
  }
}

TEST_F(orrelind_warp, uniform_frames_stay_uniform_under_every_setting) {
  std::mt19937_64 g(7);
  std::uniform_real_distribution<double> u(-0.2, 1.2);
  for (int round = 0; round < 40; ++round) {
    orrelind_model::settings s;
    for (double& v : s.v) v = u(g);
    const uint32_t value = with_alpha(uint32_t(g()), uint8_t(1 + g() % 255));
    const frame in(23 * 19, value);
    auto inst = make(23, 19, s);
    EXPECT_EQ(inst.update(0.0, in), in) << round;
  }
}

TEST_F(orrelind_warp, transparent_frames_lose_colour_only_where_warped) {
  // 9 x 7 with the centre on pixel (4, 3) and warp radius 7 x 0.5 = 3.5.
  frame in = testhost::random_frame(63, 9);
  for (uint32_t& px : in) px = pixel(byte_of(px, 0) | 1, byte_of(px, 1) | 1, byte_of(px, 2) | 1, 0);
  const auto s = with({{WHIRL, 0.1}, {PINCH, 0.8}, {RADIUS, 0.5}});
  const frame out = make(9, 7, s).update(0.0, in);
  for (unsigned y = 0; y < 7; ++y)
    for (unsigned x = 0; x < 9; ++x) {
      const int dx = int(x) - 4, dy = int(y) - 3;
      const bool warped = 4 * (dx * dx + dy * dy) < 49 && (dx || dy);
      EXPECT_EQ(out[y * 9 + x], warped ? 0u : in[y * 9 + x]) << x << "," << y;
    }
}

TEST_F(orrelind_warp, alpha_weighting_at_a_quarter_and_three_quarters) {
  // Pinch 0.625 (P = 1/4) takes pixel (4, 16) of a 32 x 33 frame centred at
  // (0, 16) with radius 8 to the source point (4.25, 16): fx = 1/4, fy = 0.
  const auto s = with({{PINCH, 0.625}, {RADIUS, 0.25}, {CENTER_X, 0.0}});
  auto at = [](frame& f, unsigned x, unsigned y) -> uint32_t& { return f[y * 32 + x]; };
  frame in(32 * 33, pixel(9, 9, 9, 255));

  // Alpha 0 and 1: interpolated alpha 1/4 rounds to 0, all bytes 0.
  at(in, 4, 16) = pixel(200, 100, 50, 0);
  at(in, 5, 16) = pixel(10, 20, 30, 1);
  EXPECT_EQ(make(32, 33, s).update(0.0, in)[16 * 32 + 4], 0u);

  // Alpha 1 and 0: alpha 3/4 gives byte 1, and the colour is the weighted
  // sum (3/4 of the first neighbour) times 1 / (3/4): the transparent
  // neighbour lends nothing, where plain interpolation would give 150.
  at(in, 4, 16) = pixel(200, 100, 50, 1);
  at(in, 5, 16) = pixel(0, 255, 6, 0);
  EXPECT_EQ(make(32, 33, s).update(0.0, in)[16 * 32 + 4], pixel(200, 100, 50, 1));

  // Alpha 0 and 3: the same 3/4, now all of it from the second neighbour.
  at(in, 4, 16) = pixel(200, 100, 50, 0);
  at(in, 5, 16) = pixel(10, 20, 30, 3);
  EXPECT_EQ(make(32, 33, s).update(0.0, in)[16 * 32 + 4], pixel(10, 20, 30, 1));

  // One shared alpha: plain interpolation, 3/4 of 200 and 1/4 of 0 is 150.
  at(in, 4, 16) = pixel(200, 100, 50, 40);
  at(in, 5, 16) = pixel(0, 20, 30, 40);
  at(in, 4, 17) = pixel(1, 2, 3, 40);
  at(in, 5, 17) = pixel(4, 5, 6, 40);
  EXPECT_EQ(make(32, 33, s).update(0.0, in)[16 * 32 + 4], pixel(150, 80, 45, 40));
  EXPECT_EQ(make(32, 33, s).update(0.0, in), orrelind_model::warp(in, 32, 33, s));
}

TEST_F(orrelind_warp, colour_and_alpha_combine_their_rows_differently) {
  // Pixel (0, 20) of a 32 x 33 frame centred at (0, 16) with radius 8 and
  // P = 1/2 fetches from straight below: sy = 16 + 4.5, fy = 1/2, and
  // sx = cos(pi / 2) x 4.5 = 2.76e-16, a fraction far below one ulp of the
  // pixel values. With the four values 1, 3 / 6, 4 around it, the exact
  // interpolation is 3.5 and the roundings decide: colour's
  // (6 - top) + (4 - 6) fx ends at exactly 3.5 (byte 4), alpha's
  // ((4 - 6) fx + 6) - top at 3.4999999999999996 (byte 3).
  const auto s = with({{PINCH, 0.75}, {RADIUS, 0.25}, {CENTER_X, 0.0}});
  frame in(32 * 33, pixel(50, 50, 50, 255));
  auto set = [&](uint8_t v00, uint8_t v10, uint8_t v01, uint8_t v11, bool alpha) {
    const uint8_t values[4] = {v00, v10, v01, v11};
    const unsigned at[4] = {20 * 32, 20 * 32 + 1, 21 * 32, 21 * 32 + 1};
    for (int i = 0; i < 4; ++i)
      in[at[i]] =
          alpha ? pixel(100, 100, 100, values[i]) : pixel(values[i], values[i], values[i], 255);
  };
  set(1, 3, 6, 4, false);
  EXPECT_EQ(make(32, 33, s).update(0.0, in)[20 * 32], pixel(4, 4, 4, 255));
  EXPECT_EQ(make(32, 33, s).update(0.0, in), orrelind_model::warp(in, 32, 33, s));
  set(1, 3, 6, 4, true);
  EXPECT_EQ(make(32, 33, s).update(0.0, in)[20 * 32], pixel(100, 100, 100, 3));
  EXPECT_EQ(make(32, 33, s).update(0.0, in), orrelind_model::warp(in, 32, 33, s));
}

TEST_F(orrelind_warp, source_points_beyond_an_edge_repeat_the_border) {
  // A whirl about the top-left corner sends many source points above or
  // left of the frame; they land on row 0 or column 0, where the ramp is 0.
  const auto s =
      with({{WHIRL, 0.9}, {PINCH, 0.2}, {RADIUS, 0.5}, {CENTER_X, 0.0}, {CENTER_Y, 0.0}});
  const frame in = ramp_frame(20, 20);
  const frame out = make(20, 20, s).update(0.0, in);
  const auto g = orrelind_model::geometry_of(s, 20, 20);
  int clamped = 0;
  for (unsigned y = 0; y < 20; ++y)
    for (unsigned x = 0; x < 20; ++x) {
      double sx, sy;
      if (!orrelind_model::source_point(g, x, y, &sx, &sy)) continue;
      const uint32_t px = out[y * 20 + x];
      EXPECT_EQ(byte_of(px, 0), unsigned(12 * sx + 0.5)) << x << "," << y;
      EXPECT_EQ(byte_of(px, 1), unsigned(12 * sy + 0.5)) << x << "," << y;
      if (sx == 0.0 || sy == 0.0) ++clamped;
    }
  EXPECT_GT(clamped, 20);
  EXPECT_EQ(out, orrelind_model::warp(in, 20, 20, s));
}

TEST_F(orrelind_warp, frames_one_pixel_wide_or_high) {
  // One pixel wide: cx is 0 whatever Center X says, the radius is Radius x 1
  // pixel, and every source point lies in column 0.
  std::mt19937_64 g(3);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int round = 0; round < 30; ++round) {
    orrelind_model::settings s;
    for (double& v : s.v) v = u(g);
    s.v[RADIUS] = 0.5 + 0.5 * u(g);
    for (auto [w, h] : {std::pair{1u, 40u}, {40u, 1u}, {1u, 2u}, {2u, 1u}, {2u, 2u}}) {
      const frame in = patchy_frame(w, h, round);
      EXPECT_EQ(make(w, h, s).update(0.0, in), orrelind_model::warp(in, w, h, s))
          << w << "x" << h << " round " << round;
    }
  }
  // 1 x 8, centre row 3.5, radius 1: rows 3 and 4 are warped.
  const auto s = with({{WHIRL, 0.8}, {RADIUS, 1.0}, {CENTER_X, 0.9}});
  frame in(8);
  for (unsigned y = 0; y < 8; ++y) in[y] = pixel(uint8_t(30 * y), 0, 0, 255);
  const frame out = make(1, 8, s).update(0.0, in);
  for (unsigned y : {0u, 1u, 2u, 5u, 6u, 7u}) EXPECT_EQ(out[y], in[y]);
  EXPECT_NE(out[3], in[3]);
  EXPECT_NE(out[4], in[4]);
  EXPECT_EQ(out, orrelind_model::warp(in, 1, 8, s));
}

TEST_F(orrelind_warp, time_plays_no_part) {
  const auto s = with({{WHIRL, 0.2}, {PINCH, 0.7}, {RADIUS, 0.8}});
  auto inst = make(30, 20, s);
  const frame in = patchy_frame(30, 20, 4);
  const frame first = inst.update(5.0, in);
  EXPECT_NE(first, in);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double t : {0.0, -3.0, 5.0, 1e300, nan, inf, -inf})
    EXPECT_EQ(inst.update(t, in), first) << t;
}

// Random settings, biased towards the extremes, edges and corners.
orrelind_model::settings random_settings(std::mt19937_64& g) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  orrelind_model::settings s;
  for (double& v : s.v) {
    switch (g() % 8) {
      case 0:
        v = 0.0;
        break;
      case 1:
        v = 1.0;
        break;
      case 2:
        v = 0.5;
        break;
      default:
        v = u(g);
    }
  }
  if (s.v[RADIUS] < 0.05) s.v[RADIUS] = std::fmin(1.0, 0.05 + u(g));
  return s;
}

TEST_F(orrelind_warp, matches_the_plain_model_over_random_frames_and_settings) {
  std::mt19937_64 g(11);
  const std::pair<unsigned, unsigned> sizes[] = {{37, 23}, {64, 48}, {5, 40}, {40, 5},
                                                 {3, 3},   {16, 17}, {1, 9},  {9, 1}};
  for (int round = 0; round < 60; ++round) {
    const auto [w, h] = sizes[round % 8];
    const orrelind_model::settings s = random_settings(g);
    const frame in =
        round % 3 == 0 ? testhost::random_frame(size_t(w) * h, round) : patchy_frame(w, h, round);
    const frame expected = orrelind_model::warp(in, w, h, s);
    auto inst = make(w, h, s);
    const frame copy = in;
    ASSERT_EQ(inst.update(0.0, in), expected) << w << "x" << h << " round " << round;
    ASSERT_EQ(in, copy) << "the input frame was written";
  }
}

TEST_F(orrelind_warp, one_frame_in_place_equals_separate_frames) {
  // One instance throughout, so that scratch holds the previous frame's
  // pixels: an in-place update must never read any of them.
  std::mt19937_64 g(21);
  auto inst = p.construct(48, 36);
  for (int round = 0; round < 40; ++round) {
    const orrelind_model::settings s = random_settings(g);
    for (int i = 0; i < orrelind_model::PARAM_COUNT; ++i) inst.set(i, s.v[i]);
    const frame in = patchy_frame(48, 36, 100 + round);
    const frame separate = inst.update(0.0, in);
    frame shared = in;
    inst.update_in_place(0.0, shared);
    ASSERT_EQ(shared, separate) << "round " << round;
    ASSERT_EQ(separate, orrelind_model::warp(in, 48, 36, s)) << "round " << round;
  }
}

TEST_F(orrelind_warp, sizable_circles_match_the_model) {
  // Long rows with short warped runs in the middle, runs longer than a
  // batch, and circles larger than the frame, through both buffer
  // arrangements.
  std::mt19937_64 g(5);
  for (auto [w, h] : {std::pair{301u, 7u}, {7u, 301u}, {160u, 90u}, {420u, 150u}}) {
    for (int round = 0; round < 4; ++round) {
      orrelind_model::settings s = random_settings(g);
      // Runs longer than one batch of the warp (up to 2 x 150 pixels).
      if (w == 420) s.v[RADIUS] = 0.5 + 0.15 * round;
      const frame in = patchy_frame(w, h, round + w);
      const frame expected = orrelind_model::warp(in, w, h, s);
      auto inst = make(w, h, s);
      EXPECT_EQ(inst.update(0.0, in), expected) << w << "x" << h << " " << round;
      frame shared = in;
      inst.update_in_place(0.0, shared);
      EXPECT_EQ(shared, expected) << w << "x" << h << " " << round;
    }
  }
}

TEST_F(orrelind_warp, the_centre_pixel_is_kept_wherever_it_falls_in_a_run) {
  // 421 x 301, centre row 150, radius 270: the warped run of the centre row
  // starts up to 270 pixels before the centre, which so lands early, late
  // and on the boundaries of the batches the warp works in.
  const frame in = patchy_frame(421, 301, 77);
  for (const testhost::variant& v : testhost::plugin_variants("Orrelind")) {
    SCOPED_TRACE(v.name);
    testhost::plugin baseline(v.path);
    for (unsigned k : {5u, 63u, 64u, 100u, 127u, 128u, 129u, 200u, 255u, 256u, 300u}) {
      const auto s = with({{WHIRL, 0.9}, {PINCH, 0.3}, {RADIUS, 0.9}, {CENTER_X, k / 420.0}});
      const auto g = orrelind_model::geometry_of(s, 421, 301);
      auto b = baseline.construct(421, 301);
      for (int i = 0; i < orrelind_model::PARAM_COUNT; ++i) b.set(i, s.v[i]);
      const frame shipped = make(421, 301, s).update(0.0, in);
      const frame base = b.update(0.0, in);
      for (unsigned x = 0; x < 421; ++x) {
        double sx, sy;
        const size_t at = 150 * 421 + x;
        const uint32_t expected = orrelind_model::source_point(g, x, 150, &sx, &sy)
                                      ? orrelind_model::resample(in, 421, 301, sx, sy)
                                      : in[at];
        ASSERT_EQ(shipped[at], expected) << "centre " << g.cx << " x " << x;
        ASSERT_EQ(base[at], expected) << "centre " << g.cx << " x " << x;
      }
      if (g.cx == double(k)) {
        EXPECT_EQ(shipped[150 * 421 + k], in[150 * 421 + k]);
      }
    }
  }
}

TEST_F(orrelind_warp, every_instruction_set_variant_gives_the_same_bytes) {
  // The shipped library picks the widest resampling the processor has; each
  // variant build is held to a lower one. All must equal the model.
  for (const testhost::variant& v : testhost::plugin_variants("Orrelind")) {
    SCOPED_TRACE(v.name);
    testhost::plugin baseline(v.path);
    std::mt19937_64 g(31);
    const std::pair<unsigned, unsigned> sizes[] = {{64, 48}, {37, 23}, {7, 30}, {130, 3}};
    for (int round = 0; round < 40; ++round) {
      const auto [w, h] = sizes[round % 4];
      const orrelind_model::settings s = random_settings(g);
      frame in = round % 2 ? patchy_frame(w, h, 300 + round)
                           : testhost::random_frame(size_t(w) * h, 300 + round);
      if (round % 5 == 0)
        for (uint32_t& px : in) px = with_alpha(px, 255);
      auto a = make(w, h, s);
      auto b = baseline.construct(w, h);
      for (int i = 0; i < orrelind_model::PARAM_COUNT; ++i) b.set(i, s.v[i]);
      const frame expected = orrelind_model::warp(in, w, h, s);
      ASSERT_EQ(a.update(0.0, in), expected) << "round " << round;
      ASSERT_EQ(b.update(0.0, in), expected) << "round " << round;
      frame shared = in;
      b.update_in_place(0.0, shared);
      ASSERT_EQ(shared, expected) << "round " << round;
    }
  }
}

}  // namespace
