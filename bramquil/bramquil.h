// bramquil: slit scan.
//
// Every frame contributes a band of 1 to 64 adjacent rows or columns (slits)
// to a ring that holds one frame's worth of slits. The output shows the ring
// laid flat, newest slit at one edge (Scan), or projected onto the walls of a
// tunnel receding to a black hole in the middle (Stargate).
//
// This header is private to the plug-in: the instance record and the
// functions its source files share.
#pragma once

#include <cstddef>
#include <cstdint>

enum bramquil_param_index {
  BRAMQUIL_MODE,
  BRAMQUIL_POSITION,
  BRAMQUIL_VERTICAL,
  BRAMQUIL_WIDTH,
  BRAMQUIL_REVERSE,
  BRAMQUIL_DEPTH,
  BRAMQUIL_FADE,
  BRAMQUIL_PARAM_COUNT
};

struct bramquil_instance {
  uint32_t frame_width;
  uint32_t frame_height;
  double params[BRAMQUIL_PARAM_COUNT];
  // slot_count slots of slit_length pixels; one frame of pixels in total.
  uint32_t* ring;
  uint32_t slot_count;
  uint32_t slit_length;
  uint32_t newest;
  // 1: slits are columns, 0: rows.
  uint32_t ring_vertical;
  uint32_t started;
  double last_time;
};

// Booleans and the mode switch count as on from 0.5 upwards.
inline bool bramquil_on(double value) { return value >= 0.5; }

// Slot holding the slit of this age (0 = newest). Formed in 64 bits: with
// more than 2^31 slots, newest + slot_count would wrap in 32 bits.
inline uint32_t bramquil_slot_of_age(const bramquil_instance* inst,
                                     uint32_t age) {
  const uint64_t n = inst->slot_count;
  return uint32_t((inst->newest + n - age) % n);
}

// Writes every pixel of out from the ring as the tunnel view. Reads only the
// ring, so out may be the input frame.
void bramquil_stargate(const bramquil_instance* inst, uint32_t* out);
