// The frame history: which frame becomes the reference as time advances,
// repeats, jumps back or is not a number, how many frames fit in the
// budget, and that the budget is only reserved until frames arrive.
//
// Frames are of one colour each, with the frame's number in red and green.
// In the negative overlay at full blend and no contrast every output channel
// is 255 minus the reference's, so any output pixel names the reference.
#include <gtest/gtest.h>

#include <limits>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <fstream>
#endif

#include "alloc_fail.h"
#include "kestrune_model.h"

namespace {

using namespace kestrune_test;
using testhost::instance;

const double NaN = std::numeric_limits<double>::quiet_NaN();

uint32_t numbered(int k) { return pixel(uint8_t(k), uint8_t(k >> 8), 0x5A, 0xC3); }

int number_of_reference(uint32_t out) {
  return (255 - byte_of(out, 0)) | (255 - byte_of(out, 1)) << 8;
}

class kestrune_history : public testing::Test {
 public:
  testhost::plugin p{testhost::plugin_path("kestrune")};

  instance make(unsigned w, unsigned h, double time_offset) {
    instance inst = p.construct(w, h);
    EXPECT_TRUE(inst.valid());
    inst.set(BLEND, 1.0);
    inst.set(TIME_OFFSET, time_offset);
    return inst;
  }

  // Feeds frame k at time t and returns the number of its reference frame.
  static int feed(instance& inst, double t, int k) {
    const frame out = inst.update(t, frame(inst.pixel_count(), numbered(k)));
    EXPECT_EQ(out.front(), out.back());
    EXPECT_EQ(byte_of(out[0], 3), 0xC3);  // alpha of the current frame
    return number_of_reference(out[0]);
  }
};

TEST_F(kestrune_history, first_frame_is_its_own_reference) {
  instance inst = p.construct(5, 3);
  ASSERT_TRUE(inst.valid());
  // Defaults: every channel v/2 + (255 - v)/2 = 127.5, written as 128.
  const frame out = inst.update(0.0, testhost::random_frame(15, 9));
  const frame in = testhost::random_frame(15, 9);
  for (size_t i = 0; i < out.size(); ++i)
    EXPECT_EQ(out[i], pixel(128, 128, 128, byte_of(in[i], 3)));
}

TEST_F(kestrune_history, offset_zero_compares_with_the_previous_frame) {
  instance inst = make(4, 2, 0.0);
  EXPECT_EQ(feed(inst, 0.0, 1), 1);
  for (int k = 2; k < 8; ++k) EXPECT_EQ(feed(inst, k * 0.04, k), k - 1);
  // Below 0 acts as 0.
  inst.set(TIME_OFFSET, -3.0);
  EXPECT_EQ(feed(inst, 0.5, 8), 7);
}

// Frames every 0.125 s with a delay of 0.5 s: at 2.0 the reference is 1.5.
TEST_F(kestrune_history, an_eighth_second_clip_with_half_a_second_delay) {
  instance inst = make(3, 3, 0.25);
  for (int k = 0; k <= 16; ++k) {
    const int ref = feed(inst, k * 0.125, k);
    EXPECT_EQ(ref, k < 4 ? 0 : k - 4) << "time " << k * 0.125;
  }
}

TEST_F(kestrune_history, offsets_above_one_act_as_two_seconds) {
  instance inst = make(2, 2, 7.0);
  for (int k = 0; k <= 30; ++k) EXPECT_EQ(feed(inst, k * 0.125, k), k <= 16 ? 0 : k - 16) << k;
}

// Lowering the offset drops what is no longer needed at the next update;
// raising it cannot bring dropped frames back, so the delay grows again only
// as frames arrive.
TEST_F(kestrune_history, changing_the_offset_takes_effect_at_the_next_update) {
  instance inst = make(2, 1, 0.5);  // one second: 8 frames
  for (int k = 0; k <= 20; ++k) feed(inst, k * 0.125, k);
  EXPECT_EQ(feed(inst, 21 * 0.125, 21), 13);
  inst.set(TIME_OFFSET, 0.125);  // a quarter second: 2 frames
  EXPECT_EQ(feed(inst, 22 * 0.125, 22), 20);
  inst.set(TIME_OFFSET, 0.5);
  for (int k = 23; k <= 28; ++k) EXPECT_EQ(feed(inst, k * 0.125, k), 20) << k;
  EXPECT_EQ(feed(inst, 29 * 0.125, 29), 21);
  EXPECT_EQ(feed(inst, 30 * 0.125, 30), 22);
}

TEST_F(kestrune_history, a_repeated_time_replaces_the_earlier_frame) {
  instance inst = make(3, 1, 0.5);
  EXPECT_EQ(feed(inst, 1.0, 1), 1);
  EXPECT_EQ(feed(inst, 1.0, 2), 2);  // frame 1 is gone: 2 is its own reference
  EXPECT_EQ(feed(inst, 1.5, 3), 2);
  EXPECT_EQ(feed(inst, 1.5, 4), 2);
  EXPECT_EQ(feed(inst, 1.7, 5), 2);
}

TEST_F(kestrune_history, seeking_back_starts_the_history_again) {
  instance inst = make(2, 3, 1.0);
  for (int k = 0; k <= 10; ++k) feed(inst, 5.0 + k * 0.5, k);
  EXPECT_EQ(feed(inst, 3.0, 11), 11);  // every held frame was at or after 3.0
  EXPECT_EQ(feed(inst, 3.5, 12), 11);
  EXPECT_EQ(feed(inst, 6.0, 13), 12);  // 11 is more than two seconds back
  // Back to between 12 and 13: 12 stays, and stays the reference.
  EXPECT_EQ(feed(inst, 3.75, 14), 12);
  EXPECT_EQ(feed(inst, 3.25, 15), 15);
}

// A NaN time removes nothing and drops nothing; the frames around it keep
// their places in the list.
TEST_F(kestrune_history, a_time_that_is_not_a_number_drops_nothing) {
  instance inst = make(2, 2, 0.0);
  EXPECT_EQ(feed(inst, 0.0, 1), 1);
  EXPECT_EQ(feed(inst, 1.0, 2), 1);
  EXPECT_EQ(feed(inst, NaN, 3), 1);
  EXPECT_EQ(feed(inst, 3.0, 4), 2);  // frame 1 expires; 2 then NaN stay
  EXPECT_EQ(feed(inst, NaN, 5), 2);
  EXPECT_EQ(feed(inst, NaN, 6), 2);
  // Step A looks at the newest frame only: a NaN there stops it.
  EXPECT_EQ(feed(inst, -1.0, 7), 2);
  for (double t : {std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::max()})
    feed(inst, t, 8);
  // A NaN delay gives a NaN cutoff: nothing expires.
  instance nan_delay = make(2, 2, NaN);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(feed(nan_delay, k * 10.0, k), 0);
}

// Once the history is full every store recycles the oldest slot, so the
// reference is the frame `capacity - 1` before the current one.
void expect_capacity(kestrune_history& t, unsigned w, unsigned h, int capacity, double step,
                     int beyond = 3) {
  instance inst = t.make(w, h, 1.0);
  frame f(inst.pixel_count());
  for (int k = 0; k < capacity + beyond; ++k) {
    std::fill(f.begin(), f.end(), numbered(k));
    inst.update_in_place(k * step, f);
    const int expected = k < capacity ? 0 : k - capacity + 1;
    ASSERT_EQ(number_of_reference(f[0]), expected) << w << "x" << h << " frame " << k;
    ASSERT_EQ(f.front(), f.back());
  }
}

TEST_F(kestrune_history, capacity_of_small_frames) {
  EXPECT_EQ(capacity_for(320 * 240), 3494u);
  expect_capacity(*this, 320, 240, 3494, 0.0005);
}

// 4K at 60 frames a second and the full two seconds: 32 frames fit.
TEST_F(kestrune_history, capacity_of_4k_frames) {
  EXPECT_EQ(capacity_for(3840 * 2160), 32u);
  expect_capacity(*this, 3840, 2160, 32, 1.0 / 60);
}

TEST_F(kestrune_history, capacity_of_the_largest_frame) {
  EXPECT_EQ(capacity_for(134217722), 2u);
  expect_capacity(*this, 134217722, 1, 2, 0.01, 1);
}

// What the process holds of memory: on Linux its resident pages; on Windows
// its committed private pages, which count against the system's commit limit
// whether touched or not.
int64_t held_bytes() {
#ifdef _WIN32
  int64_t committed = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize)
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
      committed += int64_t(region.RegionSize);
  return committed;
#else
  std::ifstream statm("/proc/self/statm");
  int64_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
#endif
}

// A frame stored in a slot never used before needs that slot's memory. On
// Linux the reserved pages arrive when first written, so no update asks for
// memory; on Windows the update commits the slot's pixels and record (two
// requests), and when that is refused the frame passes through unchanged and
// the history stays as it was. Updates that reuse a slot never ask.
TEST_F(kestrune_history, only_a_fresh_slot_asks_for_memory_and_a_refusal_passes_the_frame) {
#ifdef _WIN32
  const size_t fresh_requests = 2;
#else
  const size_t fresh_requests = 0;
#endif
  instance inst = make(3, 2, 1.0);  // two seconds
  instance twin = make(3, 2, 1.0);  // the same frames, never refused
  frame in(inst.pixel_count()), out(inst.pixel_count());
  // Frame k at time t, with memory request n refused (0: none, all: every
  // one); returns the requests made.
  auto feed_refusing = [&](double t, int k, size_t n, bool all = false) {
    std::fill(in.begin(), in.end(), numbered(k));
    alloc_fail::scope refuse(n, all);
    inst.update(t, in.data(), out.data());
    return alloc_fail::attempts();
  };
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(feed_refusing(0.1 * k, k, 0), fresh_requests) << k;
    EXPECT_EQ(number_of_reference(out[0]), 1);
    feed(twin, 0.1 * k, k);
  }
#ifdef _WIN32
  // The pixels refused, separate buffers; then the record refused, in place.
  EXPECT_EQ(feed_refusing(0.4, 4, 1), 1u);
  EXPECT_EQ(out, in);
  std::fill(in.begin(), in.end(), numbered(5));
  {
    alloc_fail::scope refuse(2);
    inst.update(0.5, in.data(), in.data());
    EXPECT_EQ(alloc_fail::attempts(), 2u);
  }
  EXPECT_EQ(in, frame(in.size(), numbered(5)));
#endif
  // Nothing of those frames stayed: both instances go on alike.
  EXPECT_EQ(feed_refusing(0.6, 6, 0), fresh_requests);
  EXPECT_EQ(number_of_reference(out[0]), feed(twin, 0.6, 6));
  // A repeated time and expiry free slots first: no request at all.
  EXPECT_EQ(feed_refusing(0.6, 7, 1, true), 0u);
  EXPECT_EQ(number_of_reference(out[0]), feed(twin, 0.6, 7));
  EXPECT_EQ(number_of_reference(out[0]), 1);
  inst.set(TIME_OFFSET, 0.0);
  twin.set(TIME_OFFSET, 0.0);
  EXPECT_EQ(feed_refusing(1.0, 8, 1, true), 0u);
  EXPECT_EQ(number_of_reference(out[0]), 7);
  EXPECT_EQ(feed(twin, 1.0, 8), 7);
}

// The budget is reserved, not touched: a construction that sets aside 1 GiB
// costs next to nothing until frames arrive.
TEST_F(kestrune_history, construction_does_not_touch_the_pixel_store) {
  const int64_t before = held_bytes();
  instance inst = p.construct(11585, 11585);
  ASSERT_TRUE(inst.valid());
  EXPECT_LT(held_bytes() - before, int64_t(32) << 20);
}

// ... and every frame that takes a slot never used before adds that slot,
// while a recycled slot adds nothing.
TEST_F(kestrune_history, frames_take_memory_as_they_arrive) {
  const int64_t frame_bytes = 1920 * 1080 * 4;
  instance inst = make(1920, 1080, 0.0);
  frame in = testhost::random_frame(inst.pixel_count(), 4);
  frame out(inst.pixel_count());
  const int64_t before = held_bytes();
  for (int k = 0; k < 4; ++k) inst.update(k * 0.5, in.data(), out.data());
  // With a delay of 0 only two slots are ever in use.
  EXPECT_GE(held_bytes() - before, 2 * frame_bytes);
  EXPECT_LT(held_bytes() - before, 3 * frame_bytes);
  // Two seconds: every frame from 1.0 on is kept, five slots in all.
  inst.set(TIME_OFFSET, 1.0);
  for (int k = 4; k < 7; ++k) inst.update(k * 0.5, in.data(), out.data());
  EXPECT_GE(held_bytes() - before, 5 * frame_bytes);
  EXPECT_LT(held_bytes() - before, 6 * frame_bytes);
}

}  // namespace
