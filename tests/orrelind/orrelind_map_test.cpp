// Orrelind's warp map is a cache and never a change of result: sequences of
// parameter values (repeated, alternating, set again before every frame as
// MLT does) must give the plain model's bytes on every frame, with a new
// input each time, in place and not, at awkward sizes; and so must an
// instance whose map could not be allocated, or whose frame is above the
// map's ceiling (a test build lowers it to 4096 pixels).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "alloc_fail.h"
#include "orrelind_model.h"
#include "plugin_host.h"

namespace {

using orrelind_model::CENTER_X;
using orrelind_model::CENTER_Y;
using orrelind_model::PINCH;
using orrelind_model::RADIUS;
using orrelind_model::settings;
using orrelind_model::WHIRL;
using orrelind_model::with;
using testhost::frame;

void apply(testhost::instance& inst, const settings& s) {
  for (int i = 0; i < orrelind_model::PARAM_COUNT; ++i) inst.set(i, s.v[i]);
}

// Random colours; alpha random, 255 or 0 in bands, so that both the plain
// and the alpha-weighted resampling occur.
frame test_frame(unsigned w, unsigned h, uint64_t seed) {
  frame f = testhost::random_frame(size_t(w) * h, seed);
  for (size_t i = 0; i < f.size(); ++i) {
    const unsigned band = unsigned((i / 5 + seed) % 3);
    if (band == 0) continue;
    const uint32_t p = f[i];
    f[i] = testhost::pixel(testhost::byte_of(p, 0), testhost::byte_of(p, 1),
                           testhost::byte_of(p, 2), band == 1 ? 255 : 0);
  }
  return f;
}

// Drives one instance through `steps` (settings per frame, a new input
// frame each time) and checks every output against the model. Odd steps run
// in place. With `mlt`, every value is set again before every frame.
void drive(const testhost::plugin& p, unsigned w, unsigned h, const std::vector<settings>& steps,
           bool mlt, const std::string& what) {
  auto inst = p.construct(w, h);
  ASSERT_TRUE(inst.valid()) << what;
  const settings* last = nullptr;
  for (size_t k = 0; k < steps.size(); ++k) {
    if (mlt || !last || std::memcmp(last, &steps[k], sizeof(settings)) != 0) apply(inst, steps[k]);
    last = &steps[k];
    const frame in = test_frame(w, h, 1000 * k + w + 7 * h);
    const frame expected = orrelind_model::warp(in, w, h, steps[k]);
    if (k % 2) {
      frame shared = in;
      inst.update_in_place(double(k), shared);
      ASSERT_EQ(shared, expected) << what << " " << w << "x" << h << " step " << k << " in place";
    } else {
      ASSERT_EQ(inst.update(double(k), in), expected)
          << what << " " << w << "x" << h << " step " << k;
    }
  }
}

// Every build of the plug-in that the tests have: the shipped one, each
// instruction-set variant and the one with the lowered map ceiling.
std::vector<testhost::variant> every_build() {
  std::vector<testhost::variant> builds = {{"shipped", testhost::plugin_path("Orrelind")}};
  for (const testhost::variant& v : testhost::plugin_variants("Orrelind")) builds.push_back(v);
  builds.push_back({"small map", ORRELIND_SMALL_MAP_PLUGIN});
  return builds;
}

// A and B differ in one value at a time, down to one unit in the last
// place, and the sequence comes back to values seen before.
std::vector<std::vector<settings>> sequences() {
  const settings a = with({{WHIRL, 0.8}, {PINCH, 0.3}, {RADIUS, 0.7}, {CENTER_X, 0.4}});
  std::vector<std::vector<settings>> out;
  for (int i = 0; i < orrelind_model::PARAM_COUNT; ++i) {
    settings b = a;
    b.v[i] = i == WHIRL ? std::nextafter(a.v[i], 1.0) : a.v[i] * 0.75 + 0.1;
    out.push_back({a, a, b, a, b, b, a});
  }
  // Through the pass-through settings and back: the map must outlive them.
  out.push_back({a, settings{}, a, with({{RADIUS, 0.0}}), a, a});
  return out;
}

TEST(orrelind_map, parameter_sequences_match_the_model_in_every_build) {
  const std::pair<unsigned, unsigned> sizes[] = {{1, 1},   {1, 13},  {13, 1},  {2, 2},
                                                 {17, 11}, {31, 32}, {65, 64}, {64, 64}};
  for (const testhost::variant& build : every_build()) {
    testhost::plugin p(build.path);
    for (auto [w, h] : sizes)
      for (const auto& seq : sequences()) {
        drive(p, w, h, seq, false, build.name);
        drive(p, w, h, seq, true, build.name + " mlt");
      }
  }
}

TEST(orrelind_map, awkward_geometry_with_values_held_and_moving) {
  // A circle larger than the frame, crossing all four borders; the centre
  // on each corner; the centre exactly on a pixel of an odd frame (kept
  // unchanged, from the map as from the first pass); a whirl that moves on
  // every frame.
  std::vector<std::vector<settings>> cases;
  const settings over = with({{WHIRL, 0.1}, {PINCH, 0.7}, {RADIUS, 1.0}});
  cases.push_back({over, over, over, over});
  for (double x : {0.0, 1.0})
    for (double y : {0.0, 1.0}) {
      const settings corner =
          with({{WHIRL, 0.9}, {PINCH, 0.4}, {RADIUS, 0.8}, {CENTER_X, x}, {CENTER_Y, y}});
      cases.push_back({corner, corner, corner});
    }
  std::vector<settings> moving;
  for (int k = 0; k < 6; ++k) moving.push_back(with({{WHIRL, 0.7 + 0.001 * k}, {RADIUS, 0.6}}));
  cases.push_back(moving);
  for (const testhost::variant& build : every_build()) {
    testhost::plugin p(build.path);
    for (auto [w, h] : {std::pair{47u, 29u}, {29u, 47u}, {63u, 65u}, {1u, 40u}, {40u, 1u}})
      for (const auto& seq : cases) {
        drive(p, w, h, seq, true, build.name);
        drive(p, w, h, seq, false, build.name);
      }
  }
}

TEST(orrelind_map, without_the_map_every_update_computes_the_same_bytes) {
  testhost::plugin p(testhost::plugin_path("Orrelind"));
  const settings a = with({{WHIRL, 0.2}, {PINCH, 0.6}, {RADIUS, 0.9}});
  const settings b = with({{WHIRL, 0.3}, {PINCH, 0.6}, {RADIUS, 0.9}});
  const std::vector<settings> seq = {a, a, b, a, b, b};
  for (auto [w, h] : {std::pair{33u, 21u}, {1u, 9u}, {200u, 120u}}) {
    // The record, scratch, then the map: failing the third leaves only the
    // map out, and construction succeeds.
    testhost::instance inst;
    size_t attempts;
    long outstanding;
    {
      alloc_fail::scope fail(3);
      inst = p.construct(w, h);
      attempts = alloc_fail::attempts();
      outstanding = alloc_fail::outstanding();
    }
    ASSERT_TRUE(inst.valid());
    EXPECT_EQ(attempts, 3u);
    EXPECT_EQ(outstanding, 2);
    for (size_t k = 0; k < seq.size(); ++k) {
      apply(inst, seq[k]);
      frame in = test_frame(w, h, 50 + k);
      const frame expected = orrelind_model::warp(in, w, h, seq[k]);
      frame out(in.size());
      {
        alloc_fail::scope fail(1, true);  // and the updates allocate nothing
        if (k % 2)
          inst.update_in_place(0.0, in);
        else
          inst.update(0.0, in.data(), out.data());
        attempts = alloc_fail::attempts();
      }
      EXPECT_EQ(attempts, 0u);
      ASSERT_EQ(k % 2 ? in : out, expected) << w << "x" << h << " step " << k;
    }
  }
}

TEST(orrelind_map, the_ceiling_decides_whether_a_map_is_allocated) {
  // The test build's ceiling is 4096 pixels: 64 x 64 gets a map (three
  // allocations), 65 x 64 and 4097 x 1 do not (two); both warp alike.
  testhost::plugin p(ORRELIND_SMALL_MAP_PLUGIN);
  for (auto [w, h, blocks] :
       {std::tuple{64u, 64u, 3u}, {65u, 64u, 2u}, {4096u, 1u, 3u}, {4097u, 1u, 2u}}) {
    {
      alloc_fail::counting count;
      auto inst = p.construct(w, h);
      ASSERT_TRUE(inst.valid());
      EXPECT_EQ(alloc_fail::attempts(), blocks) << w << "x" << h;
    }
    EXPECT_EQ(alloc_fail::outstanding(), 0);
  }
  // The shipped ceiling: 2^25 pixels still get a map; one row more does not.
  // Only address space is asked for; nothing is touched without an update.
  testhost::plugin shipped(testhost::plugin_path("Orrelind"));
  for (auto [w, h, blocks] : {std::tuple{8192u, 4096u, 3u}, {8192u, 4097u, 2u}}) {
    alloc_fail::counting count;
    auto inst = shipped.construct(w, h);
    ASSERT_TRUE(inst.valid());
    EXPECT_EQ(alloc_fail::attempts(), blocks) << w << "x" << h;
  }
}

}  // namespace
