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

// What the Stargate view keeps from one update to the next: everything that
// depends only on Depth, Fade, Reverse, the orientation and the frame size
// (bramquil_stargate.cpp). The arrays lie in one block obtained at
// construction; without it (a frame side above bramquil_sg_cache_side, or
// no memory) every update works the same values out as it goes.
struct bramquil_sg_cache {
  // Per wall column (column slits) or row (row slits) of the near half:
  // depth z, colour factor k and its integer form, age of the slit shown.
  double* z;
  double* k;
  uint32_t* factor;
  uint32_t* age;
  // Position along the slit of every pixel of the near half, row by row.
  uint16_t* positions;
  // What z … age hold: for this tunnel reach D, Fade, Reverse and
  // orientation; the first hole column (row) of the near half.
  uint32_t walls_ready;
  uint32_t walls_vertical;
  uint32_t walls_reverse;
  uint32_t hole_begin;
  double walls_depth;
  double walls_fade;
  // What positions hold.
  uint32_t positions_ready;
  uint32_t positions_vertical;
  double positions_depth;
  // Reach and orientation of the previous Stargate update.
  uint32_t seen_ready;
  uint32_t seen_vertical;
  double seen_depth;
};

// Longest frame side that the cache serves: positions then fit 16 bits.
constexpr uint32_t bramquil_sg_cache_side = 65536;

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
  // The Stargate's cache; its block is sg.z, null when there is none.
  bramquil_sg_cache sg;
};

// Booleans and the mode switch count as on from 0.5 upwards.
inline bool bramquil_on(double value) { return value >= 0.5; }

// Slot holding the slit of this age (0 = newest). Formed in 64 bits: with
// more than 2^31 slots, newest + slot_count would wrap in 32 bits.
inline uint32_t bramquil_slot_of_age(const bramquil_instance* inst, uint32_t age) {
  const uint64_t n = inst->slot_count;
  return uint32_t((inst->newest + n - age) % n);
}

// Obtains the Stargate's cache for a new instance, if its size allows and
// memory can be had; the instance works without it. Released with
// std::free(inst->sg.z).
void bramquil_sg_attach(bramquil_instance* inst);

// Writes every pixel of out from the ring as the tunnel view, refreshing the
// cache where the parameters have changed. Reads only the ring, so out may
// be the input frame.
void bramquil_stargate(bramquil_instance* inst, uint32_t* out);
