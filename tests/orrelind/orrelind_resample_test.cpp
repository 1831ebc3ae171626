// The resampling adapters, called directly. Where the alpha around a point is
// one, the vector adapters first work the colour out in single precision and
// keep it only where it is sure to round to the byte of the double formulas.
// Whole frames almost never put a colour near a rounding boundary, so here
// the source points are chosen to: the exact value lands on, just below or
// just above k + 0.5, closer than single precision can tell apart. Every
// adapter this processor runs must give the plain model's bytes for them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "kernel_levels.h"
#include "orrelind_model.h"
#include "orrelind_dispatch.h"

namespace {

struct adapter {
  std::string name;
  orrelind_resample_fn fn;
};

// Every resampling of every set built in that this processor can run: each
// level up to the processor's, both of its members.
std::vector<adapter> runnable_adapters() {
  std::vector<adapter> all;
  for (const auto& k : runnable_kernel_sets(orrelind_kernel_sets)) {
    all.push_back({k.name(), k.set->resample});
    all.push_back({k.name() + " any size", k.set->resample_any_size});
  }
  return all;
}

uint64_t next(uint64_t* state) {
  *state ^= *state << 13;
  *state ^= *state >> 7;
  *state ^= *state << 17;
  return *state;
}

// The fx that puts the exact bilinear value of byte `k` at `target`, given
// the neighbours and fy: M = q00 + fy (q01 - q00) + fx (d1 + fy (d2 - d1)).
double fx_for(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, int k, double fy,
              double target) {
  const double q00 = testhost::byte_of(p00, k), q10 = testhost::byte_of(p10, k);
  const double q01 = testhost::byte_of(p01, k), q11 = testhost::byte_of(p11, k);
  const double slope = (q10 - q00) + fy * ((q11 - q01) - (q10 - q00));
  if (slope == 0.0) return -1.0;
  return (target - q00 - fy * (q01 - q00)) / slope;
}

TEST(orrelind_resample, colours_on_rounding_boundaries_match_the_model_in_every_adapter) {
  const unsigned w = 37, h = 23;
  uint64_t state = 0x9E3779B97F4A7C15ull;
  // Opaque, with a transparent patch: there the alpha is one too, and 0.
  testhost::frame src = testhost::random_frame(size_t(w) * h, 11);
  for (size_t i = 0; i < src.size(); ++i) {
    const bool clear = i % w < 4 && i / w < 4;
    src[i] = (src[i] & 0x00FFFFFFu) | (clear ? 0u : 0xFF000000u);
  }
  // Neighbours of equal colour bytes, too, so that some bytes are exact.
  for (unsigned x = 10; x < 14; ++x) src[5 * w + x] = src[6 * w + x] = 0xFF808080u;

  std::vector<double> sx, sy;
  // Offsets from the boundary, in units of the last place of sx: on it, a
  // few places either side (single precision cannot see these), and 2^40
  // and 2^42 places away (2^-12 to 2^-5 in sx, so near and beyond the
  // margin of the estimate).
  const double offsets[] = {0.0, -1.0, 1.0, -3.0, 3.0, -0x1p40, 0x1p40, -0x1p42, 0x1p42};
  while (sx.size() < 60000) {
    const unsigned x0 = unsigned(next(&state) % w), y0 = unsigned(next(&state) % h);
    const unsigned x1 = x0 + 1 < w ? x0 + 1 : x0, y1 = y0 + 1 < h ? y0 + 1 : y0;
    const uint32_t p00 = src[y0 * w + x0], p10 = src[y0 * w + x1];
    const uint32_t p01 = src[y1 * w + x0], p11 = src[y1 * w + x1];
    const double fy = double(next(&state) >> 11) * 0x1p-53;
    const int k = int(next(&state) % 3);
    const double target = double(next(&state) % 255) + 0.5;
    const double fx = fx_for(p00, p10, p01, p11, k, fy, target);
    if (!(fx >= 0.0 && fx < 1.0)) continue;
    const double base = double(x0) + fx;
    const double ulp = std::nextafter(base, 2.0 * base + 1.0) - base;
    for (double o : offsets) {
      const double x = base + o * ulp;
      if (!(x >= double(x0) && x < double(x0) + 1.0) || x > double(w - 1)) continue;
      sx.push_back(x);
      sy.push_back(double(y0) + fy);
    }
  }
  // Ordinary points among them, so that a boundary lane shares its vector
  // with lanes the estimate is sure of.
  for (size_t i = 0; i < sx.size(); i += 7) {
    sx[i] = double(next(&state) % ((w - 1) * 1024)) / 1024.0;
    sy[i] = double(next(&state) % ((h - 1) * 1024)) / 1024.0;
  }

  std::vector<uint32_t> expected(sx.size());
  for (size_t i = 0; i < sx.size(); ++i)
    expected[i] = orrelind_model::resample(src, w, h, sx[i], sy[i]);

  const orrelind_source_frame frame{src.data(), w, h};
  for (const adapter& a : runnable_adapters()) {
    // Runs of every length up to 70, so every step and tail is taken.
    std::vector<uint32_t> out(sx.size(), 0xDEADBEEFu);
    for (size_t i = 0, n = 1; i < sx.size(); i += n, n = n % 70 + 1) {
      const size_t m = std::min(n, sx.size() - i);
      a.fn(frame, sx.data() + i, sy.data() + i, m, out.data() + i);
    }
    size_t wrong = 0, first = 0;
    for (size_t i = 0; i < out.size(); ++i)
      if (out[i] != expected[i] && wrong++ == 0) first = i;
    EXPECT_EQ(wrong, 0u) << a.name << ": first at (" << sx[first] << ", " << sy[first] << "), "
                         << std::hex << out[first] << " for " << expected[first];
  }
}

}  // namespace
