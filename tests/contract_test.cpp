// The calling contract every plug-in of this tree must keep, whatever it
// does to the picture. Runs against each plug-in the build produced.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <string>

#include "alloc_fail.h"
#include "plugin_host.h"

namespace {

using testhost::frame;
using testhost::plugin;

std::string test_name(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.substr(info.param.find_last_of('/') + 1);
  name = name.substr(0, name.find('.'));
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

// Parameter values a host may send over a clip: mostly inside 0..1, some
// booleans flipping, now and then out of range or not a number.
double scheduled_value(uint64_t seed, int frame_no, int index, int type) {
  uint64_t x = (seed + 1) * 0x9E3779B97F4A7C15ull ^ uint64_t(frame_no) * 0xBF58476D1CE4E5B9ull ^
               uint64_t(index + 1) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  x *= 0xD6E8FEB86CA6B4D9ull;
  x ^= x >> 29;
  const double u = double(x >> 11) / 9007199254740992.0;
  if (type == F0R_PARAM_BOOL) return u < 0.5 ? 0.0 : 1.0;
  switch (x % 16) {
    case 0:
      return -0.5;
    case 1:
      return 3.0;
    case 2:
      return std::numeric_limits<double>::quiet_NaN();
    default:
      return u;
  }
}

struct sequence_options {
  unsigned width = 37;
  unsigned height = 23;
  int frames = 24;
  uint64_t seed = 1;
  bool in_place = false;
  bool call_init = true;
  bool opaque = false;  // every alpha byte 255, as in most video
};

// The time of the frame after frame `f` of a clip: it mostly advances,
// sometimes repeats and once, halfway, jumps back to 0.
double clip_time_after(int f, int frames, double time) {
  if (f == frames / 2) return 0.0;
  return f % 7 != 6 ? time + 0.04 : time;
}

// Drives one instance over a clip whose parameters change every few frames
// and whose time mostly advances, sometimes repeats and once jumps back.
std::vector<frame> run_sequence(const plugin& p, const sequence_options& o) {
  if (o.call_init) p.f0r().init();
  auto inst = p.construct(o.width, o.height);
  if (!inst.valid()) throw std::runtime_error("construct failed");
  const f0r_plugin_info_t info = p.info();
  std::vector<frame> outputs;
  double time = 0.0;
  for (int f = 0; f < o.frames; ++f) {
    if (f % 3 == 0) {
      for (int i = 0; i < info.num_params; ++i)
        inst.set(i, scheduled_value(o.seed, f, i, p.param_info(i).type));
    }
    frame in = testhost::random_frame(inst.pixel_count(), o.seed * 1000 + f);
    if (f % 5 == 0) in = frame(inst.pixel_count(), in[0]);
    if (o.opaque)
      for (uint32_t& px : in) px |= testhost::pixel(0, 0, 0, 255);
    if (o.in_place) {
      inst.update_in_place(time, in);
      outputs.push_back(in);
    } else {
      const frame copy = in;
      outputs.push_back(inst.update(time, in));
      if (in != copy) throw std::runtime_error("input frame was written");
    }
    time = clip_time_after(f, o.frames, time);
  }
  return outputs;
}

class contract : public testing::TestWithParam<std::string> {
 protected:
  plugin p{GetParam()};
};

TEST_P(contract, describes_itself_as_a_filter_with_double_and_bool_params) {
  const f0r_plugin_info_t info = p.info();
  ASSERT_NE(info.name, nullptr);
  EXPECT_GT(std::strlen(info.name), 0u);
  ASSERT_NE(info.author, nullptr);
  ASSERT_NE(info.explanation, nullptr);
  EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  EXPECT_EQ(info.frei0r_version, 1);
  EXPECT_TRUE(info.color_model == F0R_COLOR_MODEL_RGBA8888 ||
              info.color_model == F0R_COLOR_MODEL_BGRA8888);
  EXPECT_GT(info.num_params, 0);
  // A host that finds f0r_update2 calls it instead of f0r_update: only the
  // plug-in that offers it may export it.
  EXPECT_EQ(p.f0r().update2 != nullptr, std::string(info.name) == "kestrune");

  std::set<std::string> names;
  for (int i = 0; i < info.num_params; ++i) {
    const f0r_param_info_t pi = p.param_info(i);
    ASSERT_NE(pi.name, nullptr) << i;
    ASSERT_NE(pi.explanation, nullptr) << i;
    EXPECT_TRUE(pi.type == F0R_PARAM_DOUBLE || pi.type == F0R_PARAM_BOOL) << i;
    EXPECT_TRUE(names.insert(pi.name).second) << "duplicate name " << pi.name;
  }
}

TEST_P(contract, indices_outside_the_table_touch_nothing) {
  const int n = p.info().num_params;
  static const char sentinel_name[] = "untouched";
  for (int index : {-1, n, n + 1, std::numeric_limits<int>::min()}) {
    f0r_param_info_t pi{sentinel_name, 77, sentinel_name};
    p.f0r().get_param_info(&pi, index);
    EXPECT_EQ(pi.name, sentinel_name) << index;
    EXPECT_EQ(pi.type, 77) << index;
    EXPECT_EQ(pi.explanation, sentinel_name) << index;
  }

  auto inst = p.construct(16, 8);
  ASSERT_TRUE(inst.valid());
  std::vector<double> before;
  for (int i = 0; i < n; ++i) before.push_back(inst.get(i));
  for (int index : {-1, n, n + 5}) {
    double v = 0.75;
    p.f0r().set_param_value(inst.handle(), &v, index);
    double out = -123.0;
    p.f0r().get_param_value(inst.handle(), &out, index);
    EXPECT_EQ(out, -123.0) << index;
  }
  for (int i = 0; i < n; ++i) {
    const double now = inst.get(i);
    EXPECT_EQ(std::memcmp(&before[i], &now, sizeof now), 0) << i;
  }
}

// Hosts are not always careful: a null record, instance, value pointer or
// frame must be ignored by every entry point, writing nothing.
TEST_P(contract, null_records_instances_and_values_are_ignored) {
  p.f0r().get_plugin_info(nullptr);
  const int n = p.info().num_params;
  for (int index : {-1, 0, n - 1, n}) p.f0r().get_param_info(nullptr, index);
  p.f0r().destruct(nullptr);

  double value = 0.75;
  for (int index = 0; index < n; ++index) {
    p.f0r().set_param_value(nullptr, &value, index);
    p.f0r().get_param_value(nullptr, &value, index);
    EXPECT_EQ(value, 0.75) << index;
  }

  auto inst = p.construct(16, 8);
  ASSERT_TRUE(inst.valid());
  std::vector<double> before;
  for (int i = 0; i < n; ++i) before.push_back(inst.get(i));
  for (int index = -1; index <= n; ++index) {
    p.f0r().set_param_value(inst.handle(), nullptr, index);
    p.f0r().get_param_value(inst.handle(), nullptr, index);
  }
  for (int i = 0; i < n; ++i) {
    const double now = inst.get(i);
    EXPECT_EQ(std::memcmp(&before[i], &now, sizeof now), 0) << i;
  }
}

// Null frames or a null instance in an update write nothing and advance
// nothing: the clip around them comes out as if they had not been made.
TEST_P(contract, updates_with_null_frames_change_nothing) {
  sequence_options o;
  o.seed = 21;
  const auto expected = run_sequence(p, o);

  auto inst = p.construct(o.width, o.height);
  ASSERT_TRUE(inst.valid());
  const f0r_plugin_info_t info = p.info();
  const auto update2 = p.f0r().update2;
  double time = 0.0;
  for (int f = 0; f < o.frames; ++f) {
    if (f % 3 == 0)
      for (int i = 0; i < info.num_params; ++i)
        inst.set(i, scheduled_value(o.seed, f, i, p.param_info(i).type));
    frame in = testhost::random_frame(inst.pixel_count(), o.seed * 1000 + f);
    if (f % 5 == 0) in = frame(inst.pixel_count(), in[0]);
    frame out(inst.pixel_count(), 0xDEADBEEFu);
    const frame untouched = out;
    for (double t : {time, time + 0.5, time - 0.5}) {
      p.f0r().update(nullptr, t, in.data(), out.data());
      p.f0r().update(inst.handle(), t, nullptr, out.data());
      p.f0r().update(inst.handle(), t, in.data(), nullptr);
      p.f0r().update(inst.handle(), t, nullptr, nullptr);
      if (update2) {
        update2(nullptr, t, in.data(), in.data(), in.data(), out.data());
        update2(inst.handle(), t, nullptr, in.data(), in.data(), out.data());
        update2(inst.handle(), t, in.data(), nullptr, nullptr, nullptr);
      }
    }
    ASSERT_EQ(out, untouched) << "frame " << f;
    ASSERT_EQ(inst.update(time, in), expected[f]) << "frame " << f;
    time = clip_time_after(f, o.frames, time);
  }
}

TEST_P(contract, refuses_zero_sizes) {
  EXPECT_FALSE(p.construct(0, 480).valid());
  EXPECT_FALSE(p.construct(640, 0).valid());
  EXPECT_FALSE(p.construct(0, 0).valid());
}

TEST_P(contract, defaults_read_back_finite) {
  auto inst = p.construct(8, 8);
  ASSERT_TRUE(inst.valid());
  for (int i = 0; i < p.info().num_params; ++i) EXPECT_TRUE(std::isfinite(inst.get(i))) << i;
}

TEST_P(contract, one_buffer_in_place_matches_separate_buffers) {
  for (auto [w, h] : {std::pair{37u, 23u}, {1u, 1u}, {1u, 19u}, {19u, 1u}, {64u, 2u}}) {
    for (uint64_t seed : {1u, 2u, 3u}) {
      sequence_options o;
      o.width = w;
      o.height = h;
      o.seed = seed;
      const auto separate = run_sequence(p, o);
      o.in_place = true;
      const auto shared = run_sequence(p, o);
      ASSERT_EQ(separate.size(), shared.size());
      for (size_t f = 0; f < separate.size(); ++f)
        ASSERT_EQ(separate[f], shared[f]) << w << "x" << h << " seed " << seed << " frame " << f;
    }
  }
}

TEST_P(contract, works_the_same_without_init) {
  plugin with_init = plugin::fresh_copy(GetParam());
  plugin without_init = plugin::fresh_copy(GetParam());
  sequence_options o;
  o.seed = 11;
  const auto expected = run_sequence(with_init, o);
  o.call_init = false;
  EXPECT_EQ(run_sequence(without_init, o), expected);
}

TEST_P(contract, instances_of_different_sizes_are_independent) {
  sequence_options small, large;
  small.width = 13;
  small.height = 7;
  small.seed = 5;
  large.width = 40;
  large.height = 30;
  large.seed = 6;
  const auto alone_small = run_sequence(p, small);
  const auto alone_large = run_sequence(p, large);

  // The same two clips, one frame of each in turn.
  auto a = p.construct(small.width, small.height);
  auto b = p.construct(large.width, large.height);
  ASSERT_TRUE(a.valid() && b.valid());
  const int n = p.info().num_params;
  double time = 0.0;
  for (int f = 0; f < small.frames; ++f) {
    for (auto* side : {&small, &large}) {
      auto& inst = side == &small ? a : b;
      if (f % 3 == 0)
        for (int i = 0; i < n; ++i)
          inst.set(i, scheduled_value(side->seed, f, i, p.param_info(i).type));
      frame in = testhost::random_frame(inst.pixel_count(), side->seed * 1000 + f);
      if (f % 5 == 0) in = frame(inst.pixel_count(), in[0]);
      const auto& expected = side == &small ? alone_small : alone_large;
      ASSERT_EQ(inst.update(time, in), expected[f]) << "frame " << f;
    }
    time = clip_time_after(f, small.frames, time);
  }
}

TEST_P(contract, construct_and_destruct_repeatedly_leak_nothing) {
  alloc_fail::counting count;
  for (int round = 0; round < 50; ++round) {
    auto inst = p.construct(16 + round, 9);
    ASSERT_TRUE(inst.valid());
    if (round % 5 == 0) {
      frame in = testhost::random_frame(inst.pixel_count(), round);
      inst.update(0.04 * round, in);
    }
  }
  EXPECT_EQ(alloc_fail::outstanding(), 0);
}

TEST_P(contract, every_instruction_set_variant_gives_the_shipped_bytes) {
  const auto variants = testhost::plugin_variants(testhost::plugin_name(GetParam()));
  // A build without variants (one that holds no other level) has nothing
  // to compare: said so, rather than passed.
  if (variants.empty()) GTEST_SKIP() << "this build has no instruction-set variants";
  for (const testhost::variant& v : variants) {
    plugin other(v.path);
    for (auto [w, h] : {std::pair{37u, 23u},
                        {1u, 1u},
                        {1u, 19u},
                        {19u, 1u},
                        {64u, 2u},
                        {130u, 67u},
                        {5u, 300u}}) {
      for (uint64_t seed : {1u, 2u, 3u}) {
        sequence_options o;
        o.width = w;
        o.height = h;
        o.seed = seed;
        o.opaque = seed != 2;
        o.in_place = seed == 3;
        const auto shipped = run_sequence(p, o);
        const auto held = run_sequence(other, o);
        ASSERT_EQ(shipped.size(), held.size());
        for (size_t f = 0; f < shipped.size(); ++f)
          ASSERT_EQ(shipped[f], held[f])
              << v.name << " " << w << "x" << h << " seed " << seed << " frame " << f;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(plugins, contract, testing::ValuesIn(testhost::all_plugin_paths()),
                         test_name);

}  // namespace
