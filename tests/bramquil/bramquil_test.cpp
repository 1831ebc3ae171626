// bramquil through the test host: description and parameters, construction
// and allocation failure, the ring's restarts and captures over time, and the
// Scan and Stargate pictures worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "alloc_fail.h"
#include "plugin_host.h"

// Sizes near the limit must come back as null, not abort the run.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

using testhost::byte_of;
using testhost::frame;
using testhost::pixel;

enum { MODE, POSITION, VERTICAL, WIDTH, REVERSE, DEPTH, FADE };
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();
const uint32_t black = pixel(0, 0, 0, 255);

class bramquil : public testing::Test {
 protected:
  testhost::plugin p{testhost::plugin_path("bramquil")};
};

// Frame k of a clip: every pixel tells its frame, row and column.
frame clip_frame(unsigned w, unsigned h, int k) {
  frame f(size_t(w) * h);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      f[size_t(y) * w + x] = pixel(uint8_t(k), uint8_t(y), uint8_t(x), uint8_t(x >> 8));
  return f;
}

uint32_t at(const frame& f, unsigned w, unsigned x, unsigned y) { return f[size_t(y) * w + x]; }

frame row_of(const frame& f, unsigned w, unsigned y) {
  return frame(f.begin() + size_t(y) * w, f.begin() + size_t(y + 1) * w);
}

frame column_of(const frame& f, unsigned w, unsigned x) {
  frame c;
  for (size_t i = x; i < f.size(); i += w) c.push_back(f[i]);
  return c;
}

TEST_F(bramquil, DescribesItselfAndItsParameters) {
  const f0r_plugin_info_t info = p.info();
  EXPECT_STREQ(info.name, "bramquil");
  EXPECT_STREQ(info.author, "Pellowind");
  EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
  EXPECT_EQ(info.frei0r_version, 1);
  EXPECT_EQ(info.major_version, 1);
  EXPECT_EQ(info.minor_version, 0);
  EXPECT_EQ(info.num_params, 7);
  EXPECT_STREQ(info.explanation,
               "Slit scan: lays the slits of consecutive frames side by side, flat "
               "(Scan) or as a tunnel of light (Stargate)");

  struct expected {
    const char* name;
    int type;
    double value;
    const char* explanation;
  };
  const expected table[] = {
      {"Mode", F0R_PARAM_DOUBLE, 0.0,
       "Composition: < 0.5 Scan (flat slit image), >= 0.5 Stargate (slits projected "
       "onto walls receding to a vanishing point)"},
      {"Position", F0R_PARAM_DOUBLE, 0.5, "Position of the slit across the input frame"},
      {"Vertical", F0R_PARAM_BOOL, 1.0,
       "Sample a vertical slit (a column) instead of a horizontal one (a row); changing "
       "it restarts the image"},
      {"Width", F0R_PARAM_DOUBLE, 0.0,
       "Slit width, from 1 to 64 pixels: how far the image advances on every frame"},
      {"Reverse", F0R_PARAM_BOOL, 0.0,
       "Scan: new slits enter at the left (top) edge instead of the right (bottom) one. "
       "Stargate: slits flow inwards"},
      {"Depth", F0R_PARAM_DOUBLE, 0.25,
       "Stargate: how far the tunnel reaches; larger values shrink the dark hole in the "
       "middle"},
      {"Fade", F0R_PARAM_DOUBLE, 1.0,
       "Stargate: darken the walls with distance, as in a long exposure"},
  };
  auto inst = p.construct(8, 6);
  ASSERT_TRUE(inst.valid());
  for (int i = 0; i < 7; ++i) {
    const f0r_param_info_t pi = p.param_info(i);
    EXPECT_STREQ(pi.name, table[i].name);
    EXPECT_EQ(pi.type, table[i].type);
    EXPECT_STREQ(pi.explanation, table[i].explanation);
    EXPECT_EQ(inst.get(i), table[i].value) << table[i].name;
  }
  for (int bad : {-1, 7, 1 << 30}) {
    f0r_param_info_t pi{"untouched", 99, "untouched"};
    p.f0r().get_param_info(&pi, bad);
    EXPECT_STREQ(pi.name, "untouched");
    EXPECT_EQ(pi.type, 99);
  }
}

TEST_F(bramquil, ClampsValuesWhenSet) {
  auto inst = p.construct(4, 4);
  for (int i = 0; i < 7; ++i) {
    inst.set(i, -0.5);
    EXPECT_EQ(inst.get(i), 0.0);
    inst.set(i, 2.0);
    EXPECT_EQ(inst.get(i), 1.0);
    inst.set(i, NaN);
    EXPECT_EQ(inst.get(i), 0.0);
    inst.set(i, inf);
    EXPECT_EQ(inst.get(i), 1.0);
    inst.set(i, -inf);
    EXPECT_EQ(inst.get(i), 0.0);
    inst.set(i, 0.3);
    EXPECT_EQ(inst.get(i), 0.3);
  }
  // Out-of-table indices touch nothing.
  double v = 0.7;
  p.f0r().set_param_value(inst.handle(), &v, 7);
  p.f0r().set_param_value(inst.handle(), &v, -1);
  double out = 42.0;
  p.f0r().get_param_value(inst.handle(), &out, 7);
  p.f0r().get_param_value(inst.handle(), &out, -1);
  EXPECT_EQ(out, 42.0);
  EXPECT_EQ(inst.get(6), 0.3);
}

TEST_F(bramquil, RefusesBadSizesAndSurvivesAllocationFailure) {
  EXPECT_FALSE(p.construct(0, 480).valid());
  EXPECT_FALSE(p.construct(640, 0).valid());
  {
    // 2^62 pixels and more are refused before anything is allocated.
    alloc_fail::counting c;
    EXPECT_FALSE(p.construct(1u << 31, 1u << 31).valid());
    EXPECT_FALSE(p.construct(0xFFFFFFFFu, 0xFFFFFFFFu).valid());
    EXPECT_EQ(alloc_fail::attempts(), 0u);
  }
  {
    // Below the limit but far beyond any memory: the ring cannot be had.
    alloc_fail::counting c;
    EXPECT_FALSE(p.construct(1u << 31, (1u << 31) - 1).valid());
    EXPECT_EQ(alloc_fail::outstanding(), 0);
  }
  for (size_t n : {1, 2}) {
    alloc_fail::scope s(n);
    EXPECT_FALSE(p.construct(64, 48).valid()) << "allocation " << n;
    EXPECT_EQ(alloc_fail::outstanding(), 0) << "allocation " << n;
  }
  {
    alloc_fail::scope s(3);
    auto inst = p.construct(64, 48);
    EXPECT_TRUE(inst.valid());
  }
  // Updates allocate nothing, in either mode and orientation.
  auto inst = p.construct(64, 48);
  const frame in = testhost::random_frame(64 * 48, 1);
  frame out(in.size());
  alloc_fail::counting c;
  for (int i = 0; i < 8; ++i) {
    inst.set(MODE, i & 1);
    inst.set(VERTICAL, (i >> 1) & 1);
    inst.update(i, in.data(), out.data());
  }
  EXPECT_EQ(alloc_fail::attempts(), 0u);
}

// The first update, and any restart, shows the input frame in Scan mode.
TEST_F(bramquil, RestartShowsTheInputFrame) {
  for (int vertical : {0, 1})
    for (int reverse : {0, 1}) {
      auto inst = p.construct(13, 7);
      inst.set(VERTICAL, vertical);
      inst.set(REVERSE, reverse);
      inst.set(WIDTH, 0.1);
      const frame f0 = testhost::random_frame(13 * 7, 10);
      EXPECT_EQ(inst.update(1.0, f0), f0);
      inst.update(2.0, testhost::random_frame(13 * 7, 11));
      // An earlier time restarts from its own frame.
      const frame f2 = testhost::random_frame(13 * 7, 12);
      EXPECT_EQ(inst.update(0.5, f2), f2) << vertical << reverse;
    }
}

// Defaults: columns, one slit at Position 0.5, Reverse off. Each later
// frame moves the image one column left and brings in its middle column at
// the right edge.
TEST_F(bramquil, DefaultsPushTheMiddleColumnInAtTheRight) {
  const unsigned w = 16, h = 3;
  auto inst = p.construct(w, h);
  const frame f0 = clip_frame(w, h, 0);
  inst.update(0.0, f0);
  frame out;
  for (int k = 1; k <= 3; ++k) out = inst.update(k * 0.04, clip_frame(w, h, k));
  for (unsigned x = 0; x < w - 3; ++x)
    EXPECT_EQ(column_of(out, w, x), column_of(f0, w, x + 3)) << x;
  for (int k = 1; k <= 3; ++k)
    EXPECT_EQ(column_of(out, w, w - 4 + k), column_of(clip_frame(w, h, k), w, 8)) << k;
}

// Four rows, a band of three: trunc(0.03 × 63 + 0.5) + 1 = 3, start
// floor(2 − 1.5 + 0.5) = 1.
TEST_F(bramquil, ScanRowsWithABandOfThree) {
  const unsigned w = 3, h = 4;
  const frame f0 = clip_frame(w, h, 0), f1 = clip_frame(w, h, 1);
  for (int reverse : {0, 1}) {
    auto inst = p.construct(w, h);
    inst.set(VERTICAL, 0);
    inst.set(WIDTH, 0.03);
    inst.set(REVERSE, reverse);
    inst.update(0.0, f0);
    const frame out = inst.update(1.0, f1);
    const frame expected_rows[2][4] = {
        {row_of(f0, w, 3), row_of(f1, w, 1), row_of(f1, w, 2), row_of(f1, w, 3)},
        {row_of(f1, w, 1), row_of(f1, w, 2), row_of(f1, w, 3), row_of(f0, w, 0)}};
    for (unsigned y = 0; y < h; ++y)
      EXPECT_EQ(row_of(out, w, y), expected_rows[reverse][y]) << reverse << " row " << y;
  }
}

// Extent 480 across the slits at Position 0.5: a band of one is slit 240,
// a band of 64 slits 208 … 271; Position 0 and 1 put the band at the ends.
TEST_F(bramquil, BandLiesAroundPosition) {
  const unsigned w = 2, h = 480;
  struct band_case {
    double width, position;
    unsigned first, count;
  };
  for (const band_case c :
       {band_case{0.0, 0.5, 240, 1}, band_case{1.0, 0.5, 208, 64}, band_case{1.0, 0.0, 0, 64},
        band_case{1.0, 1.0, 416, 64}, band_case{0.5, 1.0, 447, 33}}) {
    auto inst = p.construct(w, h);
    inst.set(VERTICAL, 0);
    inst.set(WIDTH, c.width);
    inst.set(POSITION, c.position);
    inst.update(0.0, clip_frame(w, h, 0));
    const frame f1 = clip_frame(w, h, 1);
    const frame out = inst.update(1.0, f1);
    for (unsigned i = 0; i < c.count; ++i)
      EXPECT_EQ(row_of(out, w, h - c.count + i), row_of(f1, w, c.first + i))
          << c.width << " " << c.position << " " << i;
    EXPECT_EQ(row_of(out, w, h - c.count - 1), row_of(clip_frame(w, h, 0), w, h - 1));
  }
}

// With every band as wide as the frame the image is always the input.
TEST_F(bramquil, BandAcrossTheWholeFrameShowsTheInput) {
  for (int reverse : {0, 1}) {
    auto rows = p.construct(9, 10);
    rows.set(VERTICAL, 0);
    rows.set(WIDTH, 1.0);
    rows.set(REVERSE, reverse);
    auto cols = p.construct(64, 5);
    cols.set(WIDTH, 1.0);
    cols.set(REVERSE, reverse);
    for (int k = 0; k < 4; ++k) {
      const frame a = testhost::random_frame(90, 20 + k);
      EXPECT_EQ(rows.update(k, a), a) << k;
      const frame b = testhost::random_frame(320, 30 + k);
      EXPECT_EQ(cols.update(k, b), b) << k;
    }
  }
}

// One slit across: every band replaces the only slot.
TEST_F(bramquil, OneSlitAcross) {
  auto rows = p.construct(7, 1);
  rows.set(VERTICAL, 0);
  auto cols = p.construct(1, 7);
  for (int k = 0; k < 3; ++k) {
    const frame f = testhost::random_frame(7, 40 + k);
    EXPECT_EQ(rows.update(k, f), f);
    EXPECT_EQ(cols.update(k, f), f);
  }
}

TEST_F(bramquil, EqualTimeCapturesNothingAndRecomposes) {
  const unsigned w = 10, h = 4;
  auto inst = p.construct(w, h);
  inst.update(1.0, clip_frame(w, h, 0));
  const frame shown = inst.update(2.0, clip_frame(w, h, 1));
  // MLT repeats the last time at the end of a clip.
  EXPECT_EQ(inst.update(2.0, clip_frame(w, h, 2)), shown);
  // A still frame shows a change of composition.
  inst.set(REVERSE, 1);
  const frame mirrored = inst.update(2.0, clip_frame(w, h, 3));
  for (unsigned x = 0; x < w; ++x)
    EXPECT_EQ(column_of(mirrored, w, x), column_of(shown, w, w - 1 - x)) << x;
  inst.set(MODE, 1);
  EXPECT_NE(inst.update(2.0, clip_frame(w, h, 4)), mirrored);
  inst.set(MODE, 0);
  EXPECT_EQ(inst.update(2.0, clip_frame(w, h, 5)), mirrored);
}

// Reverse flips the image along its time axis without a restart; later
// bands enter at the other edge.
TEST_F(bramquil, ReverseMirrorsWithoutRestart) {
  const unsigned w = 4, h = 6;
  auto inst = p.construct(w, h);
  inst.set(VERTICAL, 0);
  const frame f0 = clip_frame(w, h, 0);
  inst.update(0.0, f0);
  const frame before = inst.update(1.0, clip_frame(w, h, 1));
  inst.set(REVERSE, 1);
  const frame f2 = clip_frame(w, h, 2);
  const frame after = inst.update(2.0, f2);
  EXPECT_EQ(row_of(after, w, 0), row_of(f2, w, 3));
  for (unsigned y = 1; y < h; ++y) EXPECT_EQ(row_of(after, w, y), row_of(before, w, h - y)) << y;
}

TEST_F(bramquil, VerticalChangeRestartsAtTheNextUpdate) {
  const unsigned w = 6, h = 5;
  auto inst = p.construct(w, h);
  inst.update(0.0, clip_frame(w, h, 0));
  inst.update(1.0, clip_frame(w, h, 1));
  inst.set(VERTICAL, 0);
  const frame f2 = clip_frame(w, h, 2);
  EXPECT_EQ(inst.update(2.0, f2), f2);
  // Rows now: the next frame brings in its middle row at the bottom.
  const frame f3 = clip_frame(w, h, 3);
  const frame out = inst.update(3.0, f3);
  EXPECT_EQ(row_of(out, w, h - 1), row_of(f3, w, 2));
  EXPECT_EQ(row_of(out, w, 0), row_of(f2, w, 1));
  inst.set(VERTICAL, 0.5);  // exactly 0.5 counts as on
  const frame f4 = clip_frame(w, h, 4);
  EXPECT_EQ(inst.update(4.0, f4), f4);
}

// A time that is not a number captures nothing and is not remembered.
TEST_F(bramquil, TimeThatIsNotANumber) {
  const unsigned w = 8, h = 3;
  {
    // The very first update still fills the ring.
    auto inst = p.construct(w, h);
    const frame f0 = clip_frame(w, h, 0);
    EXPECT_EQ(inst.update(NaN, f0), f0);
    // ... and the next real time captures relative to nothing earlier.
    const frame out = inst.update(0.5, clip_frame(w, h, 1));
    EXPECT_EQ(column_of(out, w, w - 1), column_of(clip_frame(w, h, 1), w, 4));
  }
  auto inst = p.construct(w, h);
  auto twin = p.construct(w, h);
  inst.update(1.0, clip_frame(w, h, 0));
  twin.update(1.0, clip_frame(w, h, 0));
  const frame before = inst.update(2.0, clip_frame(w, h, 1));
  twin.update(2.0, clip_frame(w, h, 1));
  EXPECT_EQ(inst.update(NaN, clip_frame(w, h, 9)), before);
  // The picture moves on as if the bad update had not happened.
  const frame after = inst.update(3.0, clip_frame(w, h, 2));
  EXPECT_EQ(after, twin.update(3.0, clip_frame(w, h, 2)));
  EXPECT_EQ(column_of(after, w, w - 1), column_of(clip_frame(w, h, 2), w, 4));
  EXPECT_EQ(column_of(after, w, w - 2), column_of(clip_frame(w, h, 1), w, 4));
  // Not a restart either: an earlier real time still is one.
  const frame f3 = clip_frame(w, h, 3);
  EXPECT_EQ(inst.update(NaN, f3), after);
  EXPECT_EQ(inst.update(2.5, f3), f3);
  // A change of Vertical waits for a real time.
  inst.set(VERTICAL, 0);
  EXPECT_EQ(inst.update(NaN, clip_frame(w, h, 4)), f3);
  const frame f5 = clip_frame(w, h, 5);
  EXPECT_EQ(inst.update(2.6, f5), f5);
}

TEST_F(bramquil, InfiniteTimes) {
  const unsigned w = 5, h = 4;
  auto inst = p.construct(w, h);
  inst.update(-inf, clip_frame(w, h, 0));
  const frame out = inst.update(0.0, clip_frame(w, h, 1));
  EXPECT_EQ(column_of(out, w, w - 1), column_of(clip_frame(w, h, 1), w, 2));
  inst.update(inf, clip_frame(w, h, 2));
  // Nothing comes after +inf except a restart.
  const frame f3 = clip_frame(w, h, 3);
  EXPECT_EQ(inst.update(1e300, f3), f3);
}

// ---- Stargate -------------------------------------------------------------

class stargate : public bramquil {
 protected:
  testhost::instance make(unsigned w, unsigned h, int vertical, double depth, double fade = 1.0,
                          int reverse = 0) {
    auto inst = p.construct(w, h);
    inst.set(MODE, 1.0);
    inst.set(VERTICAL, vertical);
    inst.set(DEPTH, depth);
    inst.set(FADE, fade);
    inst.set(REVERSE, reverse);
    return inst;
  }
};

// The two worked pixels of a 640 × 480 frame right after a restart.
TEST_F(stargate, WorkedPixels) {
  const unsigned w = 640, h = 480;
  frame in = testhost::random_frame(size_t(w) * h, 50);
  in[129 * w + 597] = pixel(200, 0, 255, 77);  // ring column 597, pixel 129
  in[86 * w + 550] = pixel(200, 0, 255, 78);   // ring row 86, pixel 550
  {
    auto inst = make(w, h, 1, 0.25);
    const frame out = inst.update(0.0, in);
    // k ≈ 0.066045: 200 → 13, 255 → 17, alpha kept.
    EXPECT_EQ(at(out, w, 300, 100), pixel(13, 0, 17, 77));
  }
  {
    auto inst = make(w, h, 0, 0.25);
    const frame out = inst.update(0.0, in);
    // k ≈ 0.82019: 200 → 164, 255 → 209.
    EXPECT_EQ(at(out, w, 100, 300), pixel(164, 0, 209, 78));
  }
}

// The hole is opaque black; every other pixel keeps its ring pixel's alpha.
TEST_F(stargate, HoleColumns) {
  const unsigned w = 640, h = 3;
  frame in = testhost::random_frame(size_t(w) * h, 51);
  for (uint32_t& px : in) px = pixel(byte_of(px, 0), byte_of(px, 1), byte_of(px, 2), 0x33);
  struct hole_case {
    double depth;
    unsigned first, last;
  };
  for (const hole_case c :
       {hole_case{0.25, 302, 337}, hole_case{0.0, 160, 479}, hole_case{1.0, 315, 324}}) {
    auto inst = make(w, h, 1, c.depth);
    const frame out = inst.update(0.0, in);
    for (unsigned y = 0; y < h; ++y)
      for (unsigned x = 0; x < w; ++x) {
        const uint32_t px = at(out, w, x, y);
        if (x >= c.first && x <= c.last)
          ASSERT_EQ(px, black) << c.depth << " x " << x;
        else
          ASSERT_EQ(byte_of(px, 3), 0x33) << c.depth << " x " << x;
      }
  }
}

TEST_F(stargate, HoleRowsFollowTheSameRule) {
  // Rows: Depth 0 leaves the middle half of 8 rows, rows 2 … 5, in the hole.
  const unsigned w = 5, h = 8;
  frame in(size_t(w) * h, pixel(10, 20, 30, 40));
  auto inst = make(w, h, 0, 0.0);
  const frame out = inst.update(0.0, in);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      EXPECT_EQ(at(out, w, x, y) == black, y >= 2 && y <= 5) << x << "," << y;
}

TEST_F(stargate, NarrowFramesAreBlack) {
  const frame in = testhost::random_frame(9, 52);
  for (double depth : {0.0, 0.5, 1.0}) {
    auto cols = make(1, 9, 1, depth);
    EXPECT_EQ(cols.update(0.0, in), frame(9, black));
    auto rows = make(9, 1, 0, depth);
    EXPECT_EQ(rows.update(0.0, in), frame(9, black));
  }
  // Two across with Depth 0: E = 1 = D × |a|.
  const frame in2 = testhost::random_frame(18, 53);
  auto cols = make(2, 9, 1, 0.0);
  EXPECT_EQ(cols.update(0.0, in2), frame(18, black));
  auto rows = make(9, 2, 0, 0.0);
  EXPECT_EQ(rows.update(0.0, in2), frame(18, black));
  // Any deeper tunnel shows walls there.
  auto deeper = make(2, 9, 1, 0.1);
  for (uint32_t px : deeper.update(0.0, in2)) EXPECT_NE(px, black);
}

// Fade 0 copies ring pixels unchanged. With every column of one colour the
// wall pixel can only be one of the input's columns.
TEST_F(stargate, FadeZeroCopiesColours) {
  const unsigned w = 40, h = 30;
  frame in(size_t(w) * h);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x) in[y * w + x] = pixel(uint8_t(200 + x), 255, 7 * x, 9);
  for (double fade : {0.0, 1.0}) {
    auto inst = make(w, h, 1, 0.25, fade);
    const frame out = inst.update(0.0, in);
    int walls = 0, copied = 0;
    for (size_t i = 0; i < out.size(); ++i) {
      if (out[i] == black) continue;
      ++walls;
      const frame row = row_of(in, w, 0);
      copied += std::find(row.begin(), row.end(), out[i]) != row.end();
    }
    EXPECT_GT(walls, 0);
    if (fade == 0.0)
      EXPECT_EQ(copied, walls);
    else
      EXPECT_LT(copied, walls / 2);
  }
}

// Twenty captures of colour 1 … 20 after a restart in colour 0, on a frame
// 64 columns wide with Depth 0.25 (D = 17.5, E = 32). The first wall column
// left of the hole, x 29 (a = −2.5, z = 12.8), has t ≈ 0.28485: age 18
// (colour 2) with Reverse off, age 45 (colour 0) with it on. The edge, x 0,
// has t ≈ 0.99904: age 63 (colour 0), or with Reverse age 0 (colour 20).
TEST_F(stargate, FlowDirection) {
  const unsigned w = 64, h = 4;
  auto grey = [](int k) { return pixel(uint8_t(k), uint8_t(k), uint8_t(k), 255); };
  for (int reverse : {0, 1}) {
    auto inst = make(w, h, 1, 0.25, 0.0, reverse);
    frame out = inst.update(0.0, frame(size_t(w) * h, grey(0)));
    for (int k = 1; k <= 20; ++k) out = inst.update(k, frame(size_t(w) * h, grey(k)));
    for (unsigned y = 0; y < h; ++y) {
      EXPECT_EQ(at(out, w, 0, y), grey(reverse ? 20 : 0));
      EXPECT_EQ(at(out, w, 29, y), grey(reverse ? 0 : 2));
      EXPECT_EQ(at(out, w, 30, y), black);
      // The two walls mirror each other.
      for (unsigned x = 0; x < w; ++x) EXPECT_EQ(at(out, w, x, y), at(out, w, w - 1 - x, y));
    }
  }
}

}  // namespace
