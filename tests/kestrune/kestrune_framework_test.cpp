// kestrune through its entry points: description, parameter table, value
// exchange, construction failures and what they leave behind.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <limits>
#include <vector>

#include "alloc_fail.h"
#include "kestrune_model.h"

namespace {

using namespace kestrune_test;
using testhost::plugin;

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

struct param_row {
  const char* name;
  int type;
  const char* explanation;
  double default_value;
};

const param_row expected_params[PARAM_COUNT] = {
    {"Time Offset", F0R_PARAM_DOUBLE,
     "0..1 = 0..2 seconds, limited to 1 GiB of history; 0 = previous frame", 0.1},
    {"Mode", F0R_PARAM_DOUBLE, "0: negative overlay, 0.5: absolute difference, 1: motion mask",
     0.0},
    {"Blend", F0R_PARAM_DOUBLE, "Opacity of the inverted delayed frame in negative overlay mode",
     0.5},
    {"Contrast", F0R_PARAM_DOUBLE, "Amplification of the differences (0..1 = 1x..16x)", 0.0},
    {"Threshold", F0R_PARAM_DOUBLE, "Ignore differences smaller than this to suppress noise", 0.0},
    {"Monochrome", F0R_PARAM_BOOL, "Compare luminance only and produce a grayscale result", 0.0},
};

uint64_t bits(double x) {
  uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

double from_bits(uint64_t b) {
  double x;
  std::memcpy(&x, &b, sizeof x);
  return x;
}

// The table as the host sees it now: six entries, in order, with their texts.
void expect_parameter_table(const plugin& p) {
  ASSERT_EQ(p.info().num_params, PARAM_COUNT);
  for (int i = 0; i < PARAM_COUNT; ++i) {
    const f0r_param_info_t info = p.param_info(i);
    EXPECT_STREQ(info.name, expected_params[i].name) << i;
    EXPECT_EQ(info.type, expected_params[i].type) << i;
    EXPECT_STREQ(info.explanation, expected_params[i].explanation) << i;
  }
}

class kestrune_framework : public testing::Test {
 protected:
  plugin p{testhost::plugin_path("kestrune")};
};

TEST_F(kestrune_framework, describes_itself_and_its_six_parameters) {
  const f0r_plugin_info_t info = p.info();
  EXPECT_STREQ(info.name, "kestrune");
  EXPECT_STREQ(info.author, "Pellowind");
  EXPECT_STREQ(info.explanation,
               "Temporal frame differencing: overlays an inverted delayed frame "
               "to reveal motion");
  EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
  EXPECT_EQ(info.frei0r_version, 1);
  EXPECT_EQ(info.major_version, 0);
  EXPECT_EQ(info.minor_version, 1);
  expect_parameter_table(p);
  EXPECT_NE(p.f0r().update2, nullptr);

  auto inst = p.construct(8, 8);
  ASSERT_TRUE(inst.valid());
  for (int i = 0; i < PARAM_COUNT; ++i)
    EXPECT_EQ(bits(inst.get(i)), bits(expected_params[i].default_value)) << i;
}

TEST_F(kestrune_framework, ignores_indices_outside_the_table_and_null_pointers) {
  for (int index : {-1, int(PARAM_COUNT), INT_MIN, INT_MAX}) {
    f0r_param_info_t info{"untouched", 77, "untouched"};
    p.f0r().get_param_info(&info, index);
    EXPECT_STREQ(info.name, "untouched");
    EXPECT_EQ(info.type, 77);
  }
  p.f0r().get_param_info(nullptr, 0);

  auto inst = p.construct(4, 4);
  ASSERT_TRUE(inst.valid());
  double value = 0.75;
  for (int index : {-1, int(PARAM_COUNT), INT_MIN, INT_MAX}) {
    p.f0r().set_param_value(inst.handle(), &value, index);
    double sentinel = 12345.0;
    p.f0r().get_param_value(inst.handle(), &sentinel, index);
    EXPECT_EQ(sentinel, 12345.0) << index;
  }
  p.f0r().set_param_value(nullptr, &value, 0);
  p.f0r().get_param_value(nullptr, &value, 0);
  p.f0r().set_param_value(inst.handle(), nullptr, 0);
  p.f0r().get_param_value(inst.handle(), nullptr, 0);
  EXPECT_EQ(value, 0.75);
  for (int i = 0; i < PARAM_COUNT; ++i)
    EXPECT_EQ(bits(inst.get(i)), bits(expected_params[i].default_value)) << i;
  p.f0r().destruct(nullptr);
}

TEST_F(kestrune_framework, stores_doubles_bit_for_bit_and_booleans_above_half) {
  auto inst = p.construct(4, 4);
  ASSERT_TRUE(inst.valid());
  const double odd_nan = from_bits(0x7FF8DEADBEEF0001ull);
  const double negative_nan = from_bits(0xFFF0000000000123ull);
  for (int i = TIME_OFFSET; i <= THRESHOLD; ++i) {
    for (double x : {-0.0, -1.0, 3.5, 1e308, -inf, inf, NaN, odd_nan, negative_nan,
                     std::numeric_limits<double>::denorm_min()}) {
      inst.set(i, x);
      EXPECT_EQ(bits(inst.get(i)), bits(x)) << i;
    }
  }
  const struct {
    double set;
    double read;
  } booleans[] = {{0.5, 0.0}, {0.51, 1.0}, {1.0, 1.0},  {0.0, 0.0},
                  {NaN, 0.0}, {inf, 1.0},  {-inf, 0.0}, {std::nextafter(0.5, 1.0), 1.0}};
  for (const auto& b : booleans) {
    inst.set(MONOCHROME, b.set);
    EXPECT_EQ(bits(inst.get(MONOCHROME)), bits(b.read)) << b.set;
  }
}

TEST_F(kestrune_framework, refused_sizes_leave_the_table_as_it_was) {
  const unsigned sizes[][2] = {
      {0, 480},       {640, 0},       {0, 0},           {134217723, 1},
      {1, 134217723}, {65536, 65536}, {4294967295u, 1}, {4294967295u, 4294967295u},
      {11586, 11586}};
  for (const auto& s : sizes) {
    EXPECT_FALSE(p.construct(s[0], s[1]).valid()) << s[0] << "x" << s[1];
    expect_parameter_table(p);
  }
  EXPECT_TRUE(p.construct(134217722, 1).valid());
  EXPECT_TRUE(p.construct(1, 134217722).valid());
  EXPECT_TRUE(p.construct(11585, 11585).valid());
}

// Hosts keep the texts: MLT reads a parameter name on every frame while
// another thread may construct. Freed texts would show under AddressSanitizer.
TEST_F(kestrune_framework, parameter_texts_outlive_later_constructions) {
  const char* names[PARAM_COUNT];
  const char* explanations[PARAM_COUNT];
  for (int i = 0; i < PARAM_COUNT; ++i) {
    const f0r_param_info_t info = p.param_info(i);
    names[i] = info.name;
    explanations[i] = info.explanation;
  }
  {
    auto a = p.construct(16, 16);
    auto b = p.construct(32, 8);
    EXPECT_FALSE(p.construct(0, 1).valid());
    {
      alloc_fail::scope fail(1);
      EXPECT_FALSE(p.construct(8, 8).valid());
    }
    auto c = p.construct(2, 2);
  }
  auto d = p.construct(5, 5);
  for (int i = 0; i < PARAM_COUNT; ++i) {
    EXPECT_STREQ(names[i], expected_params[i].name) << i;
    EXPECT_STREQ(explanations[i], expected_params[i].explanation) << i;
    // The table is filled once, at load: not even rebuilt in place.
    EXPECT_EQ(p.param_info(i).name, names[i]) << i;
    EXPECT_EQ(p.param_info(i).explanation, explanations[i]) << i;
  }
  expect_parameter_table(p);
}

TEST_F(kestrune_framework, update2_uses_its_first_input_only) {
  auto one = p.construct(19, 7);
  auto two = p.construct(19, 7);
  ASSERT_TRUE(one.valid() && two.valid());
  for (auto* inst : {&one, &two}) {
    inst->set(TIME_OFFSET, 0.02);
    inst->set(CONTRAST, 0.3);
  }
  for (int f = 0; f < 12; ++f) {
    for (auto* inst : {&one, &two}) inst->set(MODE, (f % 3) * 0.5);
    const frame in = testhost::random_frame(one.pixel_count(), 100 + f);
    const frame second = testhost::random_frame(one.pixel_count(), 200 + f);
    const frame third = testhost::random_frame(one.pixel_count(), 300 + f);
    const double t = f * 0.01;
    const frame expected = one.update(t, in);
    frame out(in.size());
    p.f0r().update2(two.handle(), t, in.data(), second.data(), third.data(), out.data());
    ASSERT_EQ(out, expected) << f;
  }
}

// Every allocation of a construction, made to fail in turn: the object's
// storage (the first) and the two history blocks.
TEST_F(kestrune_framework, allocation_failures_return_null_and_leak_nothing) {
  size_t attempts;
  {
    alloc_fail::counting count;
    auto inst = p.construct(64, 48);
    ASSERT_TRUE(inst.valid());
    attempts = alloc_fail::attempts();
  }
  ASSERT_EQ(attempts, 3u);  // object, two history blocks
  for (size_t n = 1; n <= attempts; ++n) {
    {
      alloc_fail::scope fail(n);
      EXPECT_EQ(p.f0r().construct(64, 48), nullptr) << "allocation " << n;
      EXPECT_EQ(alloc_fail::outstanding(), 0) << "allocation " << n;
    }
    expect_parameter_table(p);
  }
  {
    alloc_fail::scope fail(attempts + 1);
    f0r_instance_t inst = p.f0r().construct(64, 48);
    EXPECT_NE(inst, nullptr);
    p.f0r().destruct(inst);
    EXPECT_EQ(alloc_fail::outstanding(), 0);
  }
}

// Memory running out while the library loads must not escape it (it would
// terminate the host). A library loaded that way still constructs and
// describes its parameters.
TEST_F(kestrune_framework, allocation_failure_while_loading_never_escapes) {
  const std::string path = testhost::plugin_path("kestrune");
  size_t attempts;
  {
    alloc_fail::counting count;
    plugin loaded = plugin::fresh_copy(path);
    attempts = alloc_fail::attempts();
  }
  for (size_t n = 1; n <= attempts; ++n) {
    try {
      alloc_fail::scope fail(n);
      plugin loaded = plugin::fresh_copy(path);
      alloc_fail::disarm();
      auto inst = loaded.construct(4, 4);
      ASSERT_TRUE(inst.valid()) << "allocation " << n;
      expect_parameter_table(loaded);
    } catch (const std::exception&) {
      // The copy or dlopen itself failed: nothing of ours ran.
    }
  }
}

}  // namespace
