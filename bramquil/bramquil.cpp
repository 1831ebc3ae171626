// bramquil: slit scan.
//
// From every frame the effect takes a band of adjacent slits (rows, or
// columns with "Vertical") around "Position", "Width" of them (1 to 64),
// and pushes them into a ring that holds one frame's worth of slits. "Mode"
// chooses how the ring is shown: Scan lays the slits side by side, newest at
// the right (bottom) edge or, with "Reverse", at the left (top) one;
// Stargate projects them onto the walls of a tunnel whose reach is "Depth",
// darkened with distance by "Fade" (see bramquil_stargate.cpp).
//
// Time orders the captures: an earlier time than the previous update's
// restarts the image from the current frame, an equal one captures nothing.

#include "bramquil.h"
#include "bramquil_band.h"
#include "bramquil_dispatch.h"
#include "common/effect.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr effects::param bramquil_params[BRAMQUIL_PARAM_COUNT] = {
    {"Mode", F0R_PARAM_DOUBLE,
     "Composition: < 0.5 Scan (flat slit image), >= 0.5 Stargate (slits "
     "projected onto walls receding to a vanishing point)",
     0.0},
    {"Position", F0R_PARAM_DOUBLE, "Position of the slit across the input frame", 0.5},
    {"Vertical", F0R_PARAM_BOOL,
     "Sample a vertical slit (a column) instead of a horizontal one (a row); "
     "changing it restarts the image",
     1.0},
    {"Width", F0R_PARAM_DOUBLE,
     "Slit width, from 1 to 64 pixels: how far the image advances on every "
     "frame",
     0.0},
    {"Reverse", F0R_PARAM_BOOL,
     "Scan: new slits enter at the left (top) edge instead of the right "
     "(bottom) one. Stargate: slits flow inwards",
     0.0},
    {"Depth", F0R_PARAM_DOUBLE,
     "Stargate: how far the tunnel reaches; larger values shrink the dark "
     "hole in the middle",
     0.25},
    {"Fade", F0R_PARAM_DOUBLE, "Stargate: darken the walls with distance, as in a long exposure",
     1.0},
};

// Columns moved together between the frame and the ring. 16 pixels are one
// cache line of the frame's rows; the 16 slots are read as 16 streams.
constexpr size_t bramquil_group = 16;

// Columns 0 … columns − 1 of the frame (rows `width` pixels apart, starting
// at `frame`) are slots slot_of(c) of the column ring; `move` carries a group
// of them at a time one way or the other.
template <typename Slot, typename Frame, typename SlotOf>
void bramquil_move_columns(void (*move)(Slot* const*, size_t, Frame*, size_t, size_t), Slot* ring,
                           Frame* frame, size_t columns, size_t width, size_t height,
                           SlotOf slot_of) {
  Slot* slots[bramquil_group];
  for (size_t c0 = 0; c0 < columns; c0 += bramquil_group) {
    const size_t n = std::min(columns - c0, bramquil_group);
    for (size_t c = 0; c < n; ++c) slots[c] = ring + size_t(slot_of(c0 + c)) * height;
    move(slots, n, frame + c0, width, height);
  }
}

// Lays the whole current frame into the ring as if all its slits had just
// entered as one band: slot k holds slit k (Reverse: slit slot_count − 1 − k)
// and the newest slot is the last one.
void bramquil_restart(bramquil_instance* inst, const uint32_t* in, bool vertical, bool reverse) {
  const size_t w = inst->frame_width;
  const size_t h = inst->frame_height;
  inst->ring_vertical = vertical ? 1 : 0;
  inst->slot_count = vertical ? inst->frame_width : inst->frame_height;
  inst->slit_length = vertical ? inst->frame_height : inst->frame_width;
  inst->newest = inst->slot_count - 1;
  const size_t n = inst->slot_count;
  if (vertical) {
    bramquil_move_columns(bramquil_kernels().columns_to_slots, inst->ring, in, w, w, h,
                          [n, reverse](size_t c) { return reverse ? n - 1 - c : c; });
  } else if (!reverse) {
    std::memcpy(inst->ring, in, w * h * sizeof(uint32_t));
  } else {
    for (size_t k = 0; k < n; ++k)
      std::memcpy(inst->ring + k * w, in + (n - 1 - k) * w, w * sizeof(uint32_t));
  }
  inst->started = 1;
}

// Pushes the band of slits around Position into the ring, in frame order
// (Reverse: in the opposite order), so its last (first) slit is the newest.
void bramquil_capture(bramquil_instance* inst, const uint32_t* in) {
  const double* p = inst->params;
  const bool reverse = bramquil_on(p[BRAMQUIL_REVERSE]);
  const uint32_t extent = inst->slot_count;
  uint32_t count = uint32_t(p[BRAMQUIL_WIDTH] * 63.0 + 0.5) + 1;
  if (count >= extent) count = extent;
  const uint32_t start = bramquil_band_start(extent, count, p[BRAMQUIL_POSITION]);

  const size_t w = inst->frame_width;
  const uint64_t first = uint64_t(inst->newest) + 1;
  inst->newest = uint32_t((uint64_t(inst->newest) + count) % extent);
  // Slit start + c goes to the slot it takes in capture order: the c-th
  // after the previous newest, or with Reverse the (count − 1 − c)-th.
  auto slot_of = [=](size_t c) { return (first + (reverse ? count - 1 - c : c)) % extent; };
  if (inst->ring_vertical) {
    bramquil_move_columns(bramquil_kernels().columns_to_slots, inst->ring, in + start, count, w,
                          inst->frame_height, slot_of);
  } else {
    for (uint32_t c = 0; c < count; ++c)
      std::memcpy(inst->ring + slot_of(c) * w, in + (start + c) * w, w * sizeof(uint32_t));
  }
}

// The flat slit image: the slit of age a becomes output slit slot_count − 1 − a
// (Reverse: a), so the newest is at the right or bottom (left or top) edge.
void bramquil_scan(const bramquil_instance* inst, uint32_t* out) {
  const bool reverse = bramquil_on(inst->params[BRAMQUIL_REVERSE]);
  const size_t w = inst->frame_width;
  const size_t h = inst->frame_height;
  const uint64_t n = inst->slot_count;
  const uint64_t newest = inst->newest;
  // Output slit o shows slot (newest + 1 + o) mod n, or with Reverse
  // (newest + n − o) mod n.
  auto slot_of = [n, newest, reverse](size_t o) {
    return reverse ? (newest + n - o) % n : (newest + 1 + o) % n;
  };
  if (inst->ring_vertical) {
    bramquil_move_columns(bramquil_kernels().slots_to_columns,
                          static_cast<const uint32_t*>(inst->ring), out, w, w, h, slot_of);
  } else if (!reverse) {
    // The ring rotated: two block copies.
    const size_t first = size_t(n - 1 - newest);
    std::memcpy(out, inst->ring + (newest + 1) * w, first * w * sizeof(uint32_t));
    std::memcpy(out + first * w, inst->ring, (newest + 1) * w * sizeof(uint32_t));
  } else {
    for (size_t o = 0; o < n; ++o)
      std::memcpy(out + o * w, inst->ring + slot_of(o) * w, w * sizeof(uint32_t));
  }
}

// Null for 2^62 pixels or more (the ring's byte count must fit in 64 bits)
// and when memory runs out. The ring is one frame of pixels, reused in
// either orientation; the Stargate's cache, also obtained here, is
// optional. Nothing is allocated after construction.
void* bramquil_construct(unsigned int width, unsigned int height) {
  const uint64_t pixels = uint64_t(width) * height;
  if (pixels >= (uint64_t(1) << 62)) return nullptr;
  auto* inst = static_cast<bramquil_instance*>(std::calloc(1, sizeof(bramquil_instance)));
  if (!inst) return nullptr;
  inst->ring = static_cast<uint32_t*>(std::malloc(size_t(pixels) * sizeof(uint32_t)));
  if (!inst->ring) {
    std::free(inst);
    return nullptr;
  }
  inst->frame_width = width;
  inst->frame_height = height;
  bramquil_sg_attach(inst);
  return inst;
}

void bramquil_destruct(void* instance) {
  auto* inst = static_cast<bramquil_instance*>(instance);
  std::free(inst->ring);
  std::free(inst->sg.z);
  std::free(inst);
}

// Restarts the ring on the first update, on a time earlier than the previous
// one and when Vertical has changed; otherwise a later time captures a band
// and an equal time (hosts repeat the last time at the end of a clip)
// captures nothing. A time that is not a number is not ordered against
// anything: it captures nothing and is not remembered, so the next real time
// carries on from the last real one; it restarts only a ring that was never
// filled. The ring is complete before the output is written, so inframe and
// outframe may be one buffer.
void bramquil_update(void* instance, double time, const uint32_t* inframe, uint32_t* outframe) {
  auto* inst = static_cast<bramquil_instance*>(instance);
  const double* p = inst->params;
  const bool vertical = bramquil_on(p[BRAMQUIL_VERTICAL]);
  const bool reverse = bramquil_on(p[BRAMQUIL_REVERSE]);
  if (std::isnan(time)) {
    if (!inst->started) bramquil_restart(inst, inframe, vertical, reverse);
  } else {
    if (!inst->started || inst->last_time > time || inst->ring_vertical != (vertical ? 1u : 0u))
      bramquil_restart(inst, inframe, vertical, reverse);
    else if (time > inst->last_time)
      bramquil_capture(inst, inframe);
    inst->last_time = time;
  }
  if (bramquil_on(p[BRAMQUIL_MODE]))
    bramquil_stargate(inst, outframe);
  else
    bramquil_scan(inst, outframe);
}

}  // namespace

extern const effects::plugin effects_plugin = {
    {"bramquil", "Pellowind",
     "Slit scan: lays the slits of consecutive frames side by side, flat (Scan) or as a tunnel of "
     "light (Stargate)",
     F0R_COLOR_MODEL_RGBA8888, 1, 0},
    {bramquil_params, BRAMQUIL_PARAM_COUNT, effects::value_rule::unit_nan_as_zero,
     effects::boolean_rule::as_value},
    {bramquil_construct, bramquil_destruct, effects::set_in_params<bramquil_instance>,
     effects::get_from_params<bramquil_instance>, bramquil_update}};
