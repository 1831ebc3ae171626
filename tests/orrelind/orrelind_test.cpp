// Orrelind through the test host: its description and parameter table, the
// storing of values, construction limits and allocation failure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "alloc_fail.h"
#include "orrelind_model.h"
#include "plugin_host.h"

namespace orrelind_model {
double (*volatile sin_fn)(double) = ::sin;
double (*volatile cos_fn)(double) = ::cos;
double (*volatile atan2_fn)(double, double) = ::atan2;
}  // namespace orrelind_model

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

class orrelind : public testing::Test {
 protected:
  testhost::plugin p{testhost::plugin_path("Orrelind")};
};

TEST_F(orrelind, describes_itself) {
  const f0r_plugin_info_t info = p.info();
  EXPECT_STREQ(info.name, "Orrelind");
  EXPECT_STREQ(info.author, "Corbelane");
  EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_BGRA8888);
  EXPECT_EQ(info.frei0r_version, 1);
  EXPECT_EQ(info.major_version, 1);
  EXPECT_EQ(info.minor_version, 2);
  EXPECT_EQ(info.num_params, 5);
  EXPECT_STREQ(info.explanation,
               "Real-time radial whirl/pinch approximation. Whirl: -720..+720 "
               "degrees; Pinch: -1..+1; Radius: 0..2; Center X/Y: normalized.");
  p.f0r().get_plugin_info(nullptr);
}

TEST_F(orrelind, parameter_table) {
  const char* names[] = {"Whirl", "Pinch", "Radius", "Center X", "Center Y"};
  const char* explanations[] = {
      "Whirl angle: -720 to +720 degrees; 0.5 is neutral.",
      "Pinch amount: -1 to +1; 0.5 is neutral.",
      "Radius: 0 to 2; 0.5 gives radius 1.",
      "Horizontal center, normalized 0 to 1.",
      "Vertical center, normalized 0 to 1.",
  };
  for (int i = 0; i < 5; ++i) {
    const f0r_param_info_t pi = p.param_info(i);
    EXPECT_STREQ(pi.name, names[i]);
    EXPECT_STREQ(pi.explanation, explanations[i]);
    EXPECT_EQ(pi.type, F0R_PARAM_DOUBLE);
  }
  p.f0r().get_param_info(nullptr, 0);
  f0r_param_info_t untouched{"x", 99, "y"};
  for (int index : {5, -1}) {
    p.f0r().get_param_info(&untouched, index);
    EXPECT_STREQ(untouched.name, "x");
    EXPECT_EQ(untouched.type, 99);
  }
}

TEST_F(orrelind, new_instance_reads_back_one_half) {
  auto inst = p.construct(64, 48);
  ASSERT_TRUE(inst.valid());
  for (int i = 0; i < 5; ++i) EXPECT_EQ(inst.get(i), 0.5) << i;
}

TEST_F(orrelind, values_are_clamped_on_setting_with_nan_as_one) {
  auto inst = p.construct(8, 8);
  const double cases[][2] = {
      {1.5, 1.0},
      {-0.25, 0.0},
      {NaN, 1.0},
      {-NaN, 1.0},
      {inf, 1.0},
      {-inf, 0.0},
      {0.3, 0.3},
      {1.0, 1.0},
      {0.0, 0.0},
      {1e300, 1.0},
      {-1e-300, 0.0},
      {4.9e-324, 4.9e-324},
      {std::nextafter(1.0, 0.0), std::nextafter(1.0, 0.0)},
  };
  for (int i = 0; i < 5; ++i)
    for (const auto& c : cases) {
      inst.set(i, c[0]);
      const double got = inst.get(i);
      EXPECT_EQ(std::memcmp(&got, &c[1], sizeof got), 0)
          << "index " << i << " set " << c[0] << " read " << got;
      EXPECT_EQ(got, orrelind_model::stored(c[0]));
    }
}

TEST_F(orrelind, guards_ignore_null_arguments_and_bad_indices) {
  auto inst = p.construct(8, 8);
  double v = 0.9;
  for (int index : {5, -1, 1000}) {
    p.f0r().set_param_value(inst.handle(), &v, index);
    double out = -7.0;
    p.f0r().get_param_value(inst.handle(), &out, index);
    EXPECT_EQ(out, -7.0);
  }
  p.f0r().set_param_value(nullptr, &v, 0);
  p.f0r().set_param_value(inst.handle(), nullptr, 0);
  double out = -7.0;
  p.f0r().get_param_value(nullptr, &out, 0);
  EXPECT_EQ(out, -7.0);
  p.f0r().get_param_value(inst.handle(), nullptr, 0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(inst.get(i), 0.5);

  // Null frames and a null instance end the update with nothing written.
  inst.set(orrelind_model::WHIRL, 1.0);
  testhost::frame in = testhost::random_frame(64, 1), out_frame(64, 0xABCDEF01u);
  p.f0r().update(nullptr, 0.0, in.data(), out_frame.data());
  p.f0r().update(inst.handle(), 0.0, nullptr, out_frame.data());
  EXPECT_EQ(out_frame, testhost::frame(64, 0xABCDEF01u));
  p.f0r().update(inst.handle(), 0.0, in.data(), nullptr);
  p.f0r().destruct(nullptr);
}

TEST_F(orrelind, refuses_zero_and_oversized_frames) {
  EXPECT_FALSE(p.construct(0, 480).valid());
  EXPECT_FALSE(p.construct(640, 0).valid());
  {
    // 2^62 pixels: refused before anything is allocated.
    alloc_fail::counting count;
    EXPECT_FALSE(p.construct(1u << 31, 1u << 31).valid());
    EXPECT_FALSE(p.construct(0xFFFFFFFFu, 0xFFFFFFFFu).valid());
    EXPECT_EQ(alloc_fail::attempts(), 0u);
  }
  {
    // One pixel row fewer passes the size check; the frame buffer (failed
    // here on purpose rather than asking for 16 EiB) is what stops it.
    alloc_fail::scope fail(2);
    EXPECT_FALSE(p.construct(1u << 31, (1u << 31) - 1).valid());
    EXPECT_EQ(alloc_fail::attempts(), 2u);
    EXPECT_EQ(alloc_fail::outstanding(), 0);
  }
}

TEST_F(orrelind, failed_allocations_leave_nothing_behind) {
  for (size_t n : {1, 2}) {
    alloc_fail::scope fail(n);
    EXPECT_FALSE(p.construct(320, 240).valid()) << n;
    EXPECT_EQ(alloc_fail::outstanding(), 0) << n;
  }
  alloc_fail::counting count;
  {
    // The record, scratch and the warp map.
    auto inst = p.construct(320, 240);
    ASSERT_TRUE(inst.valid());
    EXPECT_EQ(alloc_fail::attempts(), 3u);
  }
  EXPECT_EQ(alloc_fail::outstanding(), 0);
}

TEST_F(orrelind, updates_allocate_nothing) {
  auto inst = p.construct(40, 30);
  inst.set(orrelind_model::WHIRL, 0.9);
  inst.set(orrelind_model::PINCH, 0.2);
  testhost::frame in = testhost::random_frame(inst.pixel_count(), 3);
  testhost::frame out(in.size());
  {
    alloc_fail::scope fail(1, true);
    inst.update(0.0, in.data(), out.data());
    inst.update_in_place(1.0, in);
    EXPECT_EQ(alloc_fail::attempts(), 0u);
  }
  EXPECT_EQ(in, out);
}

}  // namespace
