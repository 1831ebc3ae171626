// What the two halves of Orrelind share: the instance record that the entry
// points own (orrelind.cpp) and the frame update that warps with it
// (orrelind_warp.cpp).
#pragma once

#include <cstdint>

#include "orrelind_dispatch.h"

enum orrelind_param_index {
  ORRELIND_WHIRL,
  ORRELIND_PINCH,
  ORRELIND_RADIUS,
  ORRELIND_CENTER_X,
  ORRELIND_CENTER_Y,
  ORRELIND_PARAM_COUNT
};

// Frames above this many pixels go without a warp map and compute every
// source point afresh on every update. The map costs 16 bytes per pixel of
// address space, touched only for the pixels inside the circle: at the
// ceiling, 2^25 pixels (7680 x 4320 fits), 512 MiB. Test builds may lower
// it.
#ifndef ORRELIND_MAP_MAX_PIXELS
#define ORRELIND_MAP_MAX_PIXELS (uint64_t(1) << 25)
#endif
constexpr uint64_t orrelind_map_max_pixels = ORRELIND_MAP_MAX_PIXELS;

// No pixel is kept unchanged inside the warped runs.
constexpr uint64_t orrelind_no_pixel = ~uint64_t(0);

struct orrelind_instance {
  uint32_t frame_width;
  uint32_t frame_height;
  double params[ORRELIND_PARAM_COUNT];  // stored values, each 0..1
  uint32_t* scratch;                    // copy of the input for same-frame updates
  uint64_t pixel_count;                 // frame_width * frame_height, below 2^62

  // The warp map: the source point of every pixel strictly inside the
  // circle, row by row, as the exact doubles the resampling starts from;
  // the x of the n-th such pixel at map[n], its y at map[pixel_count + n].
  // A cache: it depends only on the frame size and the parameter values in
  // map_params, and is reused while params are bit for bit those. Null when
  // the frame is above the ceiling or the memory could not be had; every
  // update then computes the source points directly.
  double* map;
  bool map_ready;
  double map_params[ORRELIND_PARAM_COUNT];
  // The pixel inside the warped runs that stays as it is: the one on the
  // centre (at most one pixel can lie that close to it), or orrelind_no_pixel.
  uint64_t map_kept;
  // The values of the last update that warped (NaN before the first): the
  // map is built only once values have stood still for one frame, so that a
  // host moving a value on every frame never pays for storing it.
  double last_params[ORRELIND_PARAM_COUNT];
};

// Warps one frame. inframe and outframe are both non-null and are one and the
// same frame or do not overlap.
void orrelind_update(orrelind_instance* inst, const uint32_t* inframe, uint32_t* outframe);
