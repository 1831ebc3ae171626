// vestrale's kernel sets called directly, every level this processor runs,
// against the passes' per-pixel meaning: every length from none to a few
// vectors and a tail, every start within a vector (the split streams its
// slot only from an aligned pixel on), out apart from in and out on in,
// and not one pixel written past the end.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kernel_levels.h"
#include "vestrale_dispatch.h"

namespace {

constexpr uint32_t guard = 0xA5C3E1F7u;

std::vector<uint32_t> noise(size_t n, uint32_t seed) {
  std::vector<uint32_t> v(n);
  uint32_t x = seed;
  for (auto& p : v) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    p = x;
  }
  return v;
}

// Lengths and starts: none, within one vector, across the vector body and
// its tail, at every offset from a 64-byte boundary.
constexpr size_t max_pixels = 70;
constexpr size_t max_start = 16;

TEST(vestrale_kernels, refresh_takes_the_chosen_bytes_of_every_pixel) {
  const uint32_t takes[] = {vestrale_red, vestrale_green, vestrale_blue_alpha, 0u, ~0u};
  for (const auto& k : runnable_kernel_sets(vestrale_kernel_sets))
    for (const uint32_t take : takes)
      for (size_t start = 0; start < max_start; ++start)
        for (size_t n = 0; n <= max_pixels; ++n)
          for (const bool in_place : {false, true}) {
            SCOPED_TRACE(k.name() + " take " + std::to_string(take) + " start " +
                         std::to_string(start) + " n " + std::to_string(n) +
                         (in_place ? " in place" : ""));
            const size_t size = start + max_pixels + 1;
            std::vector<uint32_t> comp = noise(size, 1 + uint32_t(n)), in = noise(size, 99);
            std::vector<uint32_t> out(size, guard);
            std::vector<uint32_t> want_comp = comp, want_out = in_place ? in : out;
            for (size_t i = start; i < start + n; ++i) {
              want_comp[i] = (comp[i] & ~take) | (in[i] & take);
              want_out[i] = want_comp[i];
            }
            uint32_t* dst = in_place ? in.data() : out.data();
            k.set->refresh(comp.data() + start, in.data() + start, dst + start, n, take);
            EXPECT_EQ(comp, want_comp);
            EXPECT_EQ(in_place ? in : out, want_out);
          }
}

TEST(vestrale_kernels, split_takes_red_green_and_the_rest_from_three_frames) {
  for (const auto& k : runnable_kernel_sets(vestrale_kernel_sets))
    for (size_t start = 0; start < max_start; ++start)
      for (size_t n = 0; n <= max_pixels; ++n)
        for (const bool in_place : {false, true}) {
          SCOPED_TRACE(k.name() + " start " + std::to_string(start) + " n " + std::to_string(n) +
                       (in_place ? " in place" : ""));
          const size_t size = start + max_pixels + 1;
          std::vector<uint32_t> in = noise(size, 7 + uint32_t(n)), r = noise(size, 11),
                                g = noise(size, 13), slot(size, guard), out(size, guard);
          const std::vector<uint32_t> frame = in;
          std::vector<uint32_t> want_slot = slot, want_out = in_place ? in : out;
          for (size_t i = start; i < start + n; ++i) {
            want_slot[i] = frame[i];
            want_out[i] = (r[i] & vestrale_red) | (g[i] & vestrale_green) |
                          (frame[i] & vestrale_blue_alpha);
          }
          uint32_t* dst = in_place ? in.data() : out.data();
          k.set->split(in.data() + start, r.data() + start, g.data() + start, slot.data() + start,
                       dst + start, n);
          EXPECT_EQ(slot, want_slot);
          EXPECT_EQ(in_place ? in : out, want_out);
        }
}

// Where the lag is cut to nothing the caller passes the input itself as
// the red and green frames.
TEST(vestrale_kernels, split_reads_red_and_green_from_the_frame_it_writes_over) {
  for (const auto& k : runnable_kernel_sets(vestrale_kernel_sets)) {
    SCOPED_TRACE(k.name());
    std::vector<uint32_t> in = noise(67, 5), slot(67, guard);
    const std::vector<uint32_t> frame = in;
    k.set->split(in.data(), in.data(), in.data(), slot.data(), in.data(), in.size());
    EXPECT_EQ(in, frame);
    EXPECT_EQ(slot, frame);
  }
}

}  // namespace
