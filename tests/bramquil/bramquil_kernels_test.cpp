// bramquil's kernel sets called directly, every level this processor runs:
// the column moves against their meaning, the Stargate run and its
// factors against the portable set's, over lengths that end inside a
// vector, on a vector boundary and past a 64-pixel block, with positions
// worked out, read from a table and stored.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "bramquil_dispatch.h"
#include "kernel_levels.h"

namespace {

constexpr uint32_t guard = 0xA5C3E1F7u;

uint32_t next(uint32_t* x) {
  *x ^= *x << 13;
  *x ^= *x >> 17;
  *x ^= *x << 5;
  return *x;
}

std::vector<uint32_t> noise(size_t n, uint32_t seed) {
  std::vector<uint32_t> v(n);
  for (auto& p : v) p = next(&seed);
  return v;
}

TEST(bramquil_kernels, columns_move_between_the_frame_and_their_slots) {
  for (const auto& k : runnable_kernel_sets(bramquil_kernel_sets))
    for (size_t n = 1; n <= 16; ++n)
      for (size_t height = 1; height <= 9; ++height) {
        SCOPED_TRACE(k.name() + " n " + std::to_string(n) + " height " + std::to_string(height));
        const size_t width = n + 5, first = 3;
        const std::vector<uint32_t> frame = noise(width * height, uint32_t(n * 31 + height));
        std::vector<std::vector<uint32_t>> slots(n, std::vector<uint32_t>(height + 1, guard));
        std::vector<uint32_t*> to(n);
        for (size_t c = 0; c < n; ++c) to[c] = slots[c].data();
        k.set->columns_to_slots(to.data(), n, frame.data() + first, width, height);
        for (size_t c = 0; c < n; ++c) {
          for (size_t j = 0; j < height; ++j) ASSERT_EQ(slots[c][j], frame[j * width + first + c]);
          ASSERT_EQ(slots[c][height], guard);
        }

        for (auto& s : slots) s = noise(height + 1, uint32_t(s.size() + n));
        std::vector<uint32_t> back(width * height, guard), want = back;
        for (size_t c = 0; c < n; ++c)
          for (size_t j = 0; j < height; ++j) want[j * width + first + c] = slots[c][j];
        std::vector<const uint32_t*> from(n);
        for (size_t c = 0; c < n; ++c) from[c] = slots[c].data();
        k.set->slots_to_columns(from.data(), n, back.data() + first, width, height);
        ASSERT_EQ(back, want);
      }
}

TEST(bramquil_kernels, every_level_finds_the_portable_factors) {
  const bramquil_kernel_set& portable = *bramquil_kernel_sets[0];
  for (const auto& k : runnable_kernel_sets(bramquil_kernel_sets)) {
    SCOPED_TRACE(k.name());
    int exact = 0, none = 0;
    // Fractions of 4096 have exact factors; (j + 0.5) / 255 puts 255 × k +
    // 0.5 next to a whole number, where none may be.
    std::vector<double> fractions;
    for (int i = 0; i <= 4096; ++i) fractions.push_back(i / 4096.0);
    for (int j = 0; j < 255; ++j) fractions.push_back((j + 0.5) / 255.0);
    for (const double f : fractions) {
      EXPECT_EQ(k.set->sg_factor(f), portable.sg_factor(f)) << f;
      (portable.sg_factor(f) == bramquil_no_factor ? none : exact)++;
    }
    // Both kinds are met, or the comparison says little.
    EXPECT_GT(exact, 0);
    EXPECT_GT(none, 0);
  }
}

// A Stargate run of n pixels over a ring of `slots` slits of L pixels each,
// with depths, offsets and colour factors drawn at random, some without an
// integer factor.
struct sg_case {
  bramquil_sg_consts consts;
  std::vector<double> z, k;
  std::vector<uint32_t> factor, ring;
  std::vector<uint64_t> offset;
  double b;

  sg_case(bool columns, size_t n, uint32_t seed) {
    const double length = 37, along = 301;
    consts = {length, along, 0.5 * length, 2 * length, 1.0 / (2 * length), 2 * length - 1};
    const size_t slots = 5;
    ring = noise(slots * size_t(length), seed);
    const size_t runs = columns ? n : 1;
    for (size_t i = 0; i < runs; ++i) {
      z.push_back(0.25 + (next(&seed) % 6300) / 100.0);
      k.push_back((next(&seed) % 1001) / 1000.0);
      factor.push_back(next(&seed) % 4 == 0 ? bramquil_no_factor
                                            : bramquil_kernel_sets[0]->sg_factor(k.back()));
      offset.push_back((next(&seed) % slots) * uint64_t(length));
    }
    // Columns: the row's offset along the slits; rows: the first pixel's,
    // a whole number and one half, with the whole row within ±S / 2.
    b = columns ? double(int(next(&seed) % 301) - 150) : -150.5 + double(next(&seed) % 100);
  }

  bramquil_sg_run run(uint32_t* out, uint32_t* mirror_end, size_t n, const uint16_t* table,
                      uint16_t* store) const {
    return {&consts,       b,     z.data(),   k.data(), factor.data(), ring.data(),
            offset.data(), table, store,      out,      mirror_end,    n};
  }
};

TEST(bramquil_kernels, stargate_runs_give_the_portable_bytes) {
  const bramquil_kernel_set& portable = *bramquil_kernel_sets[0];
  const size_t lengths[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 63, 64, 65, 128, 150};
  for (const auto& k : runnable_kernel_sets(bramquil_kernel_sets))
    for (const bool columns : {true, false})
      for (const size_t n : lengths) {
        SCOPED_TRACE(k.name() + (columns ? " columns" : " rows") + " n " + std::to_string(n));
        const sg_case c(columns, n, uint32_t(n * 2654435761u + columns));
        const auto kernel = columns ? k.set->sg_columns : k.set->sg_rows;
        const auto reference = columns ? portable.sg_columns : portable.sg_rows;

        // Positions worked out and stored, then read back from the table.
        std::vector<uint32_t> out(n + 1, guard), mirror(n + 1, guard);
        std::vector<uint32_t> want_out = out, want_mirror = mirror;
        std::vector<uint16_t> stored(n + 1, 0xBEEF), want_stored = stored;
        kernel(c.run(out.data(), mirror.data() + n, n, nullptr, stored.data()));
        reference(c.run(want_out.data(), want_mirror.data() + n, n, nullptr, want_stored.data()));
        EXPECT_EQ(out, want_out);
        EXPECT_EQ(stored, want_stored);
        if (columns) {
          EXPECT_EQ(mirror, want_mirror);
        }
        EXPECT_EQ(out[n], guard);
        EXPECT_EQ(stored[n], 0xBEEF);

        std::vector<uint32_t> again(n + 1, guard), again_mirror(n + 1, guard);
        kernel(c.run(again.data(), again_mirror.data() + n, n, want_stored.data(), nullptr));
        EXPECT_EQ(again, want_out);
        if (columns) {
          EXPECT_EQ(again_mirror, want_mirror);
        }
      }
}

}  // namespace
