// With glibc the warp takes sine and cosine from one sincos call (other C
// libraries get separate sin and cos calls). That is exact only if glibc's
// sincos gives the very bits of its separate sin and cos for every angle the
// warp can meet: atan2 (-pi..pi) plus up to 4 pi of whirl either way, so
// |angle| < 5 pi < 17. This proves it for the library the tests run
// against, on the processor they run on: densely over -17..17, at the
// points where argument reduction changes branch, near 0 down to the
// subnormals, and for the very angles of whole warped frames.
//
// The regular suite checks 2 million random angles; the long proof over
// 50 million runs with --gtest_also_run_disabled_tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include "orrelind_model.h"

#if defined(__GLIBC__)

namespace {

// Through a pointer, so that the compiler can neither turn the separate calls
// into a sincos nor the sincos into anything else.
void (*volatile sincos_fn)(double, double*, double*) = ::sincos;

uint64_t bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// Counts the angles among `count` random ones in -17..17 where sincos and
// sin/cos disagree.
uint64_t mismatches(uint64_t count, uint64_t seed) {
  const auto sin_of = orrelind_model::sin_fn;
  const auto cos_of = orrelind_model::cos_fn;
  const auto both = sincos_fn;
  std::mt19937_64 g(seed);
  std::uniform_real_distribution<double> u(-17.0, 17.0);
  uint64_t bad = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const double a = u(g);
    double s, c;
    both(a, &s, &c);
    if (bits(s) != bits(sin_of(a)) || bits(c) != bits(cos_of(a))) {
      if (bad < 5) ADD_FAILURE() << "angle " << a;
      ++bad;
    }
  }
  return bad;
}

TEST(orrelind_sincos, matches_sin_and_cos_at_the_branch_points) {
  const auto sin_of = orrelind_model::sin_fn;
  const auto cos_of = orrelind_model::cos_fn;
  // Multiples of pi / 4 up to 6 pi, the thresholds where the library's
  // argument handling changes (2^-27, 0.855469, 2.426265), 0 and signed
  // zero, each with its 64 neighbours on both sides.
  std::vector<double> centres = {0.0, std::ldexp(1.0, -27), 0.855469, 2.426265};
  for (int k = 1; k <= 24; ++k) centres.push_back(k * M_PI / 4);
  uint64_t checked = 0;
  for (double centre : centres)
    for (double sign : {1.0, -1.0}) {
      double a = sign * centre;
      for (int i = 0; i < 64; ++i) a = std::nextafter(a, -INFINITY);
      for (int i = 0; i < 129; ++i, a = std::nextafter(a, INFINITY)) {
        double s, c;
        sincos_fn(a, &s, &c);
        ASSERT_EQ(bits(s), bits(sin_of(a))) << a;
        ASSERT_EQ(bits(c), bits(cos_of(a))) << a;
        ++checked;
      }
    }
  EXPECT_GT(checked, 7000u);
}

TEST(orrelind_sincos, matches_sin_and_cos_over_two_million_angles) {
  EXPECT_EQ(mismatches(2000000, 1), 0u);
}

TEST(orrelind_sincos, matches_sin_and_cos_near_zero) {
  const auto sin_of = orrelind_model::sin_fn;
  const auto cos_of = orrelind_model::cos_fn;
  for (double sign : {1.0, -1.0})
    for (int e = -1074; e <= 2; ++e)
      for (double m : {1.0, 1.25, 1.5, 1.9999999999999998}) {
        const double a = sign * std::ldexp(m, e);
        double s, c;
        sincos_fn(a, &s, &c);
        ASSERT_EQ(bits(s), bits(sin_of(a))) << a;
        ASSERT_EQ(bits(c), bits(cos_of(a))) << a;
      }
}

TEST(orrelind_sincos, matches_sin_and_cos_for_the_angles_of_warped_frames) {
  // The source angle of every warped pixel of 160 x 90 frames under strong
  // whirls either way, pinches and off-centre circles.
  const auto sin_of = orrelind_model::sin_fn;
  const auto cos_of = orrelind_model::cos_fn;
  const double settings[][5] = {{0.0, 0.5, 1.0, 0.5, 0.5},
                                {1.0, 0.5, 1.0, 0.5, 0.5},
                                {0.9, 0.1, 2.0, 0.0, 1.0},
                                {0.03, 0.97, 0.7, 0.3, 0.6}};
  uint64_t checked = 0;
  for (const auto& v : settings) {
    orrelind_model::settings s;
    for (int i = 0; i < 5; ++i) s.v[i] = std::fmin(v[i], 1.0);
    const auto g = orrelind_model::geometry_of(s, 160, 90);
    for (unsigned y = 0; y < 90; ++y)
      for (unsigned x = 0; x < 160; ++x) {
        const double dy = double(y) - g.cy, dx = double(x) - g.cx;
        const double r = std::sqrt(dx * dx + dy * dy) * (1.0 / g.radius);
        if (r >= 1.0 || r < 1e-12) continue;
        const double t = 1.0 - r;
        const double a = orrelind_model::atan2_fn(dy, dx) + t * t * g.whirl;
        double sn, cs;
        sincos_fn(a, &sn, &cs);
        ASSERT_EQ(bits(sn), bits(sin_of(a))) << a;
        ASSERT_EQ(bits(cs), bits(cos_of(a))) << a;
        ++checked;
      }
  }
  EXPECT_GT(checked, 20000u);
}

TEST(orrelind_sincos, DISABLED_long_matches_sin_and_cos_over_fifty_million_angles) {
  EXPECT_EQ(mismatches(50000000, 2), 0u);
}

}  // namespace

#endif  // __GLIBC__
