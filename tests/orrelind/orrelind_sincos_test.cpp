// The warp takes sine and cosine from one sincos call. That is exact only if
// the C library's sincos gives the very bits of its separate sin and cos for
// every angle the warp can meet: atan2 (-pi..pi) plus up to 4 pi of whirl
// either way, so |angle| < 5 pi < 17. This proves it for the library the
// tests run against, densely over -17..17 and at the points where argument
// reduction changes branch.
//
// The regular suite checks 2 million random angles; the long proof over
// 50 million runs with --gtest_also_run_disabled_tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include "orrelind_model.h"

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

TEST(orrelind_sincos, DISABLED_long_matches_sin_and_cos_over_fifty_million_angles) {
  EXPECT_EQ(mismatches(50000000, 2), 0u);
}

}  // namespace
