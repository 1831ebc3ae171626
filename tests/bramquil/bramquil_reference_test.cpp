// bramquil against a plain model of the effect: every step written out one
// slit and one pixel at a time, with the 64-bit floored remainder. Random
// clips of random sizes and parameters must give the same bytes from the
// shipped plug-in (whichever vector path this machine picks) and from every
// build held to a lower instruction set, separately and in place. Also the band start on
// its own, for extents beyond 2^31.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "alloc_fail.h"
#include "bramquil_band.h"
#include "plugin_host.h"

namespace {

using testhost::frame;

enum { MODE, POSITION, VERTICAL, WIDTH, REVERSE, DEPTH, FADE };
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

struct model {
  model(uint32_t width, uint32_t height) : w(width), h(height), ring(size_t(width) * height) {}

  uint32_t w, h;
  double params[7] = {0.0, 0.5, 1.0, 0.0, 0.0, 0.25, 1.0};
  frame ring;
  uint32_t slot_count = 0, slit_length = 0, newest = 0, ring_vertical = 0, started = 0;
  double last_time = 0.0;

  void set(int i, double v) {
    if (!(v >= 0.0)) v = 0.0;
    if (v > 1.0) v = 1.0;
    params[i] = v;
  }
  bool on(int i) const { return params[i] >= 0.5; }
  uint32_t slot_of_age(uint32_t a) const {
    return uint32_t((uint64_t(newest) + slot_count - a) % slot_count);
  }
  void copy_slit(const frame& in, uint32_t s, uint32_t slot) {
    for (uint32_t j = 0; j < slit_length; ++j)
      ring[size_t(slot) * slit_length + j] =
          ring_vertical ? in[size_t(j) * w + s] : in[size_t(s) * w + j];
  }
  void restart(const frame& in) {
    ring_vertical = on(VERTICAL);
    slot_count = ring_vertical ? w : h;
    slit_length = ring_vertical ? h : w;
    newest = slot_count - 1;
    for (uint32_t i = 0; i < slot_count; ++i)
      copy_slit(in, on(REVERSE) ? i : slot_count - 1 - i,
                uint32_t((uint64_t(slot_count) - i + newest) % slot_count));
    started = 1;
  }
  void capture(const frame& in) {
    uint32_t count = uint32_t(params[WIDTH] * 63.0 + 0.5) + 1;
    if (count >= slot_count) count = slot_count;
    const uint32_t e = slot_count;
    int32_t start = int32_t(std::floor(e * params[POSITION] - count * 0.5 + 0.5));
    if (start <= 0) start = 0;
    if (start >= int32_t(e - count)) start = int32_t(e - count);
    for (uint32_t i = 0; i < count; ++i) {
      newest = (newest + 1) % slot_count;
      copy_slit(in, on(REVERSE) ? start + count - 1 - i : start + i, newest);
    }
  }
  frame update(double time, const frame& in) {
    if (std::isnan(time)) {
      if (!started) restart(in);
    } else {
      if (!started || last_time > time || ring_vertical != uint32_t(on(VERTICAL)))
        restart(in);
      else if (time > last_time)
        capture(in);
      last_time = time;
    }
    return on(MODE) ? stargate() : scan();
  }
  frame scan() const {
    frame out(ring.size());
    for (uint32_t a = 0; a < slot_count; ++a) {
      const uint32_t slot = slot_of_age(a);
      const uint32_t o = on(REVERSE) ? a : slot_count - 1 - a;
      for (uint32_t j = 0; j < slit_length; ++j)
        out[ring_vertical ? size_t(j) * w + o : size_t(o) * w + j] =
            ring[size_t(slot) * slit_length + j];
    }
    return out;
  }
  frame stargate() const {
    frame out(ring.size());
    const double D = params[DEPTH] * 62 + 2;
    const double E = slot_count * 0.5;
    const double L = slit_length;
    const int64_t P = 2 * int64_t(slit_length);
    const double S = ring_vertical ? h : w;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const double dx = (x + 0.5) - w * 0.5;
        const double dy = (y + 0.5) - h * 0.5;
        const double a = ring_vertical ? dx : dy;
        const double b = ring_vertical ? dy : dx;
        uint32_t& o = out[size_t(y) * w + x];
        if (E >= D * std::fabs(a)) {
          o = testhost::pixel(0, 0, 0, 255);
          continue;
        }
        const double z = E / std::fabs(a);
        const int64_t U = int64_t(std::floor(((b * z) * L) / S + 0.5 * L));
        int64_t m = U % P;
        if (m < 0) m += P;
        const int64_t pos = m < int64_t(slit_length) ? m : P - 1 - m;
        const double t = (D - z) / (D - 1);
        const double fraction = on(REVERSE) ? 1 - t : t;
        const uint32_t age = uint32_t((slot_count - 1) * fraction + 0.5);
        const uint32_t src = ring[size_t(slot_of_age(age)) * slit_length + pos];
        const double k = 1 - ((z - 1) * params[FADE]) / (D - 1);
        uint8_t faded[3];
        for (int c = 0; c < 3; ++c) faded[c] = uint8_t(testhost::byte_of(src, c) * k + 0.5);
        o = testhost::pixel(faded[0], faded[1], faded[2], testhost::byte_of(src, 3));
      }
    return out;
  }
};

uint64_t mix(uint64_t& s) {
  s += 0x9E3779B97F4A7C15ull;
  uint64_t x = s;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}
double uniform(uint64_t& s) { return double(mix(s) >> 11) / 9007199254740992.0; }

// Parameter values over a clip: mostly in range, sometimes not a number or
// out of range, booleans and the mode flipping.
double random_value(uint64_t& s, int index) {
  switch (mix(s) % 12) {
    case 0:
      return NaN;
    case 1:
      return -3.0;
    case 2:
      return 7.0;
    case 3:
      return 0.5;
    default:
      if (index == MODE || index == VERTICAL || index == REVERSE) return double(mix(s) % 2);
      return uniform(s);
  }
}

// Times mostly advancing, sometimes repeated, going back, or not numbers.
double next_time(uint64_t& s, double t) {
  switch (mix(s) % 16) {
    case 0:
      return t;
    case 1:
      return t - 1.0;
    case 2:
      return NaN;
    case 3:
      return inf;
    default:
      return t + 0.04;
  }
}

struct size_case {
  unsigned w, h;
};
const size_case sizes[] = {{1, 1},   {1, 9},   {9, 1},    {2, 7},   {7, 2},
                           {3, 5},   {31, 17}, {64, 3},   {5, 64},  {300, 7},
                           {6, 261}, {97, 53}, {33, 129}, {257, 2}, {2, 700}};

class bramquil_reference : public testing::Test {
 protected:
  bramquil_reference() {
    builds.push_back(std::make_unique<testhost::plugin>(testhost::plugin_path("bramquil")));
    names.push_back("shipped");
    for (const testhost::variant& v : testhost::plugin_variants("bramquil")) {
      builds.push_back(std::make_unique<testhost::plugin>(v.path));
      names.push_back(v.name);
    }
  }

  // One instance of every build (the shipped one and each variant), `per`
  // times over, build by build.
  std::vector<testhost::instance> construct_all(unsigned w, unsigned h, int per = 1) {
    std::vector<testhost::instance> insts;
    for (const auto& b : builds)
      for (int i = 0; i < per; ++i) insts.push_back(b->construct(w, h));
    return insts;
  }

  std::vector<std::unique_ptr<testhost::plugin>> builds;
  std::vector<std::string> names;

  // Instances made two per build: the first of each pair updates from a
  // separate buffer, the second in place.
  static frame update_pair(std::vector<testhost::instance>& insts, size_t i, double t,
                           const frame& in) {
    if (i % 2 == 0) return insts[i].update(t, in);
    frame out = in;
    insts[i].update_in_place(t, out);
    return out;
  }

  // Runs one random clip through the model and through every build, both
  // with separate buffers and in place.
  void run_clip(const size_case& sz, uint64_t seed, int frames) {
    model ref(sz.w, sz.h);
    std::vector<testhost::instance> insts = construct_all(sz.w, sz.h, 2);
    uint64_t s = seed;
    double t = 0.0;
    const size_t n = size_t(sz.w) * sz.h;
    for (int f = 0; f < frames; ++f) {
      const int changes = int(mix(s) % 3);
      for (int c = 0; c < changes; ++c) {
        const int index = int(mix(s) % 7);
        const double v = random_value(s, index);
        ref.set(index, v);
        for (auto& inst : insts) inst.set(index, v);
      }
      t = f == 0 ? uniform(s) : next_time(s, t);
      if (std::isinf(t)) t = f;  // keep later times meaningful after one inf
      const frame in = testhost::random_frame(n, seed * 1000 + f);
      const frame expected = ref.update(t, in);
      for (size_t i = 0; i < insts.size(); ++i)
        ASSERT_EQ(update_pair(insts, i, t, in), expected)
            << sz.w << "x" << sz.h << " seed " << seed << " frame " << f << " " << names[i / 2]
            << (i % 2 ? " in place" : "");
    }
  }
};

TEST_F(bramquil_reference, RandomClipsMatchThePlainModel) {
  uint64_t seed = 1;
  for (const size_case& sz : sizes)
    for (int clip = 0; clip < 3; ++clip) run_clip(sz, seed++, 24);
}

// Stargate in both orientations on every size, with enough frames for the
// ring to hold many ages, at settings that stress the fold and the fade.
TEST_F(bramquil_reference, StargateMatchesThePlainModel) {
  uint64_t s = 99;
  for (const size_case& sz : sizes) {
    for (int vertical : {0, 1}) {
      model ref(sz.w, sz.h);
      std::vector<testhost::instance> insts = construct_all(sz.w, sz.h);
      const double values[7] = {1.0,        uniform(s),         double(vertical),
                                uniform(s), double(mix(s) % 2), uniform(s),
                                uniform(s)};
      for (int i = 0; i < 7; ++i) {
        ref.set(i, values[i]);
        for (auto& inst : insts) inst.set(i, values[i]);
      }
      for (int f = 0; f < 6; ++f) {
        const frame in = testhost::random_frame(size_t(sz.w) * sz.h, mix(s));
        const frame expected = ref.update(f, in);
        for (auto& inst : insts)
          ASSERT_EQ(inst.update(f, in), expected) << sz.w << "x" << sz.h << " v" << vertical;
      }
    }
  }
}

// Long slits fold with a long period: U reaches far past P on deep tunnels.
TEST_F(bramquil_reference, StargateOnLongSlits) {
  const size_case long_sizes[] = {{4, 3000}, {3000, 4}, {3, 4001}, {4001, 3}};
  uint64_t s = 7;
  for (const size_case& sz : long_sizes)
    for (double depth : {1.0, 0.77, 0.01}) {
      model ref(sz.w, sz.h);
      std::vector<testhost::instance> insts = construct_all(sz.w, sz.h);
      const double values[7] = {1.0, 0.5, double(sz.h > sz.w), 0.0, 0.0, depth, 1.0};
      for (int i = 0; i < 7; ++i) {
        ref.set(i, values[i]);
        for (auto& inst : insts) inst.set(i, values[i]);
      }
      const frame in = testhost::random_frame(size_t(sz.w) * sz.h, mix(s));
      const frame expected = ref.update(0.0, in);
      for (auto& inst : insts) ASSERT_EQ(inst.update(0.0, in), expected) << sz.w << "x" << sz.h;
    }
}

// Fades whose factor has columns (rows) where c × k + 0.5 falls so close to a
// whole number that no 24-bit fraction reproduces the double result for
// every byte: found by search, Depth 0 with Fade 0.1 or 0.15 on 64 slits
// across gives three to five of them. Slits of 256 pixels of every byte
// value make sure the bytes concerned are read.
TEST_F(bramquil_reference, StargateFadesWithoutAnIntegerForm) {
  for (int vertical : {0, 1})
    for (double fade : {0.1, 0.15}) {
      const unsigned w = vertical ? 64 : 256, h = vertical ? 256 : 64;
      model ref(w, h);
      std::vector<testhost::instance> insts = construct_all(w, h);
      const double values[7] = {1.0, 0.5, double(vertical), 0.2, 0.0, 0.0, fade};
      for (int i = 0; i < 7; ++i) {
        ref.set(i, values[i]);
        for (auto& inst : insts) inst.set(i, values[i]);
      }
      for (int f = 0; f < 4; ++f) {
        frame in(size_t(w) * h);
        for (unsigned y = 0; y < h; ++y)
          for (unsigned x = 0; x < w; ++x) {
            const unsigned j = (vertical ? y : x) + 37 * f;
            in[size_t(y) * w + x] = testhost::pixel(uint8_t(j), uint8_t(255 - j),
                                                    uint8_t(j * 7 + x + y), uint8_t(j * 3));
          }
        const frame expected = ref.update(f, in);
        for (auto& inst : insts)
          ASSERT_EQ(inst.update(f, in), expected) << "fade " << fade << " v" << vertical;
      }
    }
}

// What the Stargate keeps between updates (per wall column or row, and the
// position of every pixel along the slit) depends only on Depth, Fade,
// Reverse, the orientation and the size. Sequences that change and stand
// still, with every value set again before every frame as MLT does and a
// Scan frame in between, must give the model's bytes through every build,
// in place and not: A, A, B, A, B, B reads positions computed, stored,
// computed, read back, computed and stored.
struct tunnel {
  double depth, fade, reverse, vertical, mode;
};
const tunnel A{0.25, 1.0, 0.0, 1.0, 1.0};
const tunnel B{0.7, 1.0, 0.0, 1.0, 1.0};
const tunnel B_faded{0.7, 0.3, 0.0, 1.0, 1.0};
const tunnel B_reversed{0.7, 0.3, 1.0, 1.0, 1.0};
const tunnel A_rows{0.25, 1.0, 0.0, 0.0, 1.0};
const tunnel A_scan{0.25, 1.0, 0.0, 1.0, 0.0};
const tunnel sequence[] = {A,          A,          B, A,      B, B, B_faded, B_faded,
                           B_reversed, B_reversed, B, A_scan, B, A, A,       A_rows,
                           A_rows,     B,          B, A_rows, A, A};

void apply(const tunnel& t, model& ref, std::vector<testhost::instance>& insts) {
  const double values[7] = {t.mode, 0.3, t.vertical, 0.05, t.reverse, t.depth, t.fade};
  for (int i = 0; i < 7; ++i) {
    ref.set(i, values[i]);
    for (auto& inst : insts) inst.set(i, values[i]);
  }
}

TEST_F(bramquil_reference, StargateParameterSequences) {
  // Strips of columns are 128 wide: widths up to three strips, odd and even.
  const size_case seq_sizes[] = {{1, 1},   {2, 9},   {9, 2},    {7, 5},    {31, 17},
                                 {130, 9}, {9, 130}, {257, 33}, {33, 257}, {300, 8}};
  for (const size_case& sz : seq_sizes) {
    model ref(sz.w, sz.h);
    std::vector<testhost::instance> insts = construct_all(sz.w, sz.h, 2);
    const size_t n = size_t(sz.w) * sz.h;
    int f = 0;
    for (const tunnel& t : sequence) {
      apply(t, ref, insts);
      const frame in = testhost::random_frame(n, 7000 + f);
      const frame expected = ref.update(f, in);
      for (size_t i = 0; i < insts.size(); ++i)
        ASSERT_EQ(update_pair(insts, i, f, in), expected)
            << sz.w << "x" << sz.h << " step " << f << " " << names[i / 2]
            << (i % 2 ? " in place" : "");
      ++f;
    }
  }
}

// Without its cache (the memory for it could not be had) every build works
// the same values out on every update, with the same bytes.
TEST_F(bramquil_reference, StargateWithoutItsCache) {
  for (const size_case& sz : {size_case{97, 53}, size_case{300, 7}, size_case{6, 261}}) {
    model ref(sz.w, sz.h);
    std::vector<testhost::instance> insts;
    for (const auto& b : builds) {
      alloc_fail::scope fail(3);  // the record and the ring come first
      insts.push_back(b->construct(sz.w, sz.h));
      ASSERT_TRUE(insts.back().valid());
    }
    int f = 0;
    for (const tunnel& t : sequence) {
      apply(t, ref, insts);
      const frame in = testhost::random_frame(size_t(sz.w) * sz.h, 8000 + f);
      const frame expected = ref.update(f, in);
      for (size_t i = 0; i < insts.size(); ++i)
        ASSERT_EQ(insts[i].update(f, in), expected)
            << sz.w << "x" << sz.h << " step " << f << " " << names[i];
      ++f;
    }
  }
}

// Frames with a side above 65536 have no cache (positions would not fit 16
// bits); 65536 itself is the longest side it serves, with positions up to
// 65535.
TEST_F(bramquil_reference, StargateAroundTheLongestCachedSide) {
  const size_case long_sizes[] = {{65536, 2}, {2, 65536}, {65537, 3}, {3, 65537}};
  for (const size_case& sz : long_sizes)
    for (int vertical : {0, 1}) {
      model ref(sz.w, sz.h);
      std::vector<testhost::instance> insts = construct_all(sz.w, sz.h);
      for (int f = 0; f < 3; ++f) {
        apply(tunnel{f == 2 ? 0.9 : 0.4, 0.8, 0.0, double(vertical), 1.0}, ref, insts);
        const frame in = testhost::random_frame(size_t(sz.w) * sz.h, 9000 + f);
        const frame expected = ref.update(f, in);
        for (size_t i = 0; i < insts.size(); ++i)
          ASSERT_EQ(insts[i].update(f, in), expected)
              << sz.w << "x" << sz.h << " v" << vertical << " frame " << f << " " << names[i];
      }
    }
}

// The band start as written for 32-bit frames: converted to a signed
// 32-bit integer first, then clamped.
uint32_t start_converted_first(uint32_t extent, uint32_t count, double position) {
  int32_t start = int32_t(std::floor(extent * position - count * 0.5 + 0.5));
  if (start <= 0) start = 0;
  if (start >= int32_t(extent - count)) start = int32_t(extent - count);
  return uint32_t(start);
}

TEST(bramquil_band, SameAsConvertingFirstBelow2To31) {
  uint64_t s = 5;
  for (int i = 0; i < 200000; ++i) {
    const uint32_t extent = i < 1000 ? uint32_t(i % 100 + 1) : uint32_t(mix(s) % 0x7FFFFFFFu) + 1;
    const uint32_t wanted = uint32_t(mix(s) % 64 + 1);
    const uint32_t count = wanted < extent ? wanted : extent;
    const double position = i % 7 == 0 ? double(i % 3) * 0.5 : uniform(s);
    ASSERT_EQ(bramquil_band_start(extent, count, position),
              start_converted_first(extent, count, position))
        << extent << " " << count << " " << position;
  }
  for (uint32_t count : {1u, 33u, 64u})
    for (double position : {0.0, 0.5, 1.0, 0.999999999})
      EXPECT_EQ(bramquil_band_start(0x7FFFFFFFu, count, position),
                start_converted_first(0x7FFFFFFFu, count, position));
}

TEST(bramquil_band, InsideTheFrameBeyond2To31) {
  const uint32_t wide = (1u << 31) + 10;
  EXPECT_EQ(bramquil_band_start(wide, 1, 0.0), 0u);
  EXPECT_EQ(bramquil_band_start(wide, 1, 1.0), wide - 1);
  EXPECT_EQ(bramquil_band_start(wide, 64, 1.0), wide - 64);
  EXPECT_EQ(bramquil_band_start(wide, 1, 0.5), (1u << 30) + 5);
  EXPECT_EQ(bramquil_band_start(wide, 64, 0.5), (1u << 30) + 5 - 32);
  EXPECT_EQ(bramquil_band_start(0xFFFFFFFFu, 1, 1.0), 0xFFFFFFFEu);
  EXPECT_EQ(bramquil_band_start(0xFFFFFFFFu, 64, 0.75), 3221225439u);
  uint64_t s = 6;
  for (int i = 0; i < 100000; ++i) {
    const uint32_t extent = uint32_t(0x80000000u + mix(s) % 0x80000000u);
    const uint32_t count = uint32_t(mix(s) % 64 + 1);
    const double position = uniform(s);
    const uint32_t start = bramquil_band_start(extent, count, position);
    ASSERT_LE(uint64_t(start) + count, extent);
    // Centred on position × extent, to within the rounding of a double.
    const double centre = double(start) + count * 0.5;
    ASSERT_LE(std::fabs(centre - extent * position), 1.0 + count * 0.5);
  }
}

// Available memory from the kernel, in bytes; 0 if unknown.
uint64_t available_memory() {
  FILE* f = std::fopen("/proc/meminfo", "r");
  if (!f) return 0;
  char line[256];
  uint64_t kb = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "MemAvailable: %" SCNu64 " kB", &kb) == 1) break;
  std::fclose(f);
  return kb * 1024;
}

// A frame 2^31 + 10 columns wide and one row high, through the plug-in: the
// ring alone is 8 GiB and an update touches it and the 8 GiB frame, which
// takes over a minute. Run only when asked for (BRAMQUIL_HUGE_FRAME=1) and
// where that much memory is free; the band start above covers the same
// ground in no time.
TEST_F(bramquil_reference, FrameWiderThan2To31) {
  const unsigned w = (1u << 31) + 10;
  const uint64_t bytes = uint64_t(w) * 4;
  if (!std::getenv("BRAMQUIL_HUGE_FRAME")) GTEST_SKIP() << "set BRAMQUIL_HUGE_FRAME=1 to run";
  if (available_memory() < 2 * bytes + (bytes >> 2))
    GTEST_SKIP() << "needs " << ((2 * bytes + (bytes >> 2)) >> 30) << " GiB of free memory";
  auto inst = builds[0]->construct(w, 1);
  if (!inst.valid()) GTEST_SKIP() << "the ring could not be allocated";
  uint32_t* buffer = static_cast<uint32_t*>(std::malloc(bytes));
  if (!buffer) GTEST_SKIP() << "the frame could not be allocated";
  for (size_t x = 0; x < w; ++x) buffer[x] = uint32_t(x);
  inst.set(POSITION, 1.0);
  inst.set(WIDTH, 1.0);
  inst.update(0.0, buffer, buffer);
  for (size_t x = 0; x < w; ++x) buffer[x] = uint32_t(x) ^ 0x80000000u;
  inst.update(1.0, buffer, buffer);
  // The last 64 columns came in at the right, in frame order.
  for (size_t i = 0; i < 64; ++i) EXPECT_EQ(buffer[w - 64 + i], uint32_t(w - 64 + i) ^ 0x80000000u);
  EXPECT_EQ(buffer[w - 65], uint32_t(w - 1));
  EXPECT_EQ(buffer[0], 64u);
  std::free(buffer);
}

}  // namespace
