// Orrelind: radial whirl/pinch warp.
//
// Inside a circle around a chosen centre every output pixel is fetched from a
// point of the input turned about the centre (Whirl: most near the centre,
// nothing at the rim) and moved along its radius (Pinch), and resampled from
// the four pixels around that point by bilinear interpolation weighted by
// alpha, so that transparent pixels lend no colour to their neighbours.
// Pixels on or outside the circle are copied unchanged.
//
// Parameters, each 0..1 with 0.5 neutral:
//   Whirl     turn at the centre, -720..+720 degrees
//   Pinch     -1..+1; positive draws the picture in towards the centre,
//             negative pushes it out
//   Radius    0..2 units of half the shorter frame side (0.5 is one unit)
//   Center X  0 is the left column, 1 the right column
//   Center Y  0 is the top row, 1 the bottom row
//
// Bytes 0..2 of a pixel are treated alike and byte 3 is alpha, so the effect
// works on BGRA and RGBA alike. The arithmetic is in doubles, every operation
// rounded on its own in a fixed order: the output is reproducible to the bit.
//
// This file holds the parameters and the entry points; the geometry and its
// map are in orrelind_warp.cpp, the resampling in orrelind_resample*.
//
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "common/effect.h"
#include "orrelind.h"

namespace {

constexpr effects::param orrelind_params[ORRELIND_PARAM_COUNT] = {
    {"Whirl", F0R_PARAM_DOUBLE, "Whirl angle: -720 to +720 degrees; 0.5 is neutral.", 0.5},
    {"Pinch", F0R_PARAM_DOUBLE, "Pinch amount: -1 to +1; 0.5 is neutral.", 0.5},
    {"Radius", F0R_PARAM_DOUBLE, "Radius: 0 to 2; 0.5 gives radius 1.", 0.5},
    {"Center X", F0R_PARAM_DOUBLE, "Horizontal center, normalized 0 to 1.", 0.5},
    {"Center Y", F0R_PARAM_DOUBLE, "Vertical center, normalized 0 to 1.", 0.5},
};

constexpr uint64_t orrelind_max_pixels = uint64_t(1) << 62;

// Null when the frame has 2^62 pixels or more, or when memory for the record
// or scratch runs out (with nothing left allocated).
void* orrelind_construct(unsigned int width, unsigned int height) {
  const uint64_t pixel_count = uint64_t(width) * height;
  if (pixel_count >= orrelind_max_pixels) return nullptr;
  auto* inst = static_cast<orrelind_instance*>(std::calloc(1, sizeof(orrelind_instance)));
  if (!inst) return nullptr;
  inst->frame_width = width;
  inst->frame_height = height;
  inst->pixel_count = pixel_count;
  // Not cleared: every part of it that is read is written first.
  if (pixel_count > SIZE_MAX / sizeof(uint32_t)) {
    std::free(inst);
    return nullptr;
  }
  inst->scratch = static_cast<uint32_t*>(std::malloc(size_t(pixel_count) * sizeof(uint32_t)));
  if (!inst->scratch) {
    std::free(inst);
    return nullptr;
  }
  // The warp map is a cache: without it every update computes directly, with
  // the same bytes, so a frame above the ceiling or a failed allocation
  // leaves it out and construction still succeeds. Its pages stay untouched
  // until a warp writes them; instances that hosts make only to ask about
  // the plug-in, and never update, cost no memory for it.
  inst->map_kept = orrelind_no_pixel;
  for (double& v : inst->last_params) v = std::numeric_limits<double>::quiet_NaN();
  if (pixel_count <= orrelind_map_max_pixels)
    inst->map = static_cast<double*>(std::malloc(size_t(pixel_count) * 2 * sizeof(double)));
  return inst;
}

void orrelind_destruct(void* instance) {
  auto* inst = static_cast<orrelind_instance*>(instance);
  std::free(inst->map);
  std::free(inst->scratch);
  std::free(inst);
}

// inframe and outframe may be one and the same buffer; otherwise they must
// not overlap. Time plays no part.
void orrelind_update_frame(void* instance, double /*time*/, const uint32_t* inframe,
                           uint32_t* outframe) {
  orrelind_update(static_cast<orrelind_instance*>(instance), inframe, outframe);
}

}  // namespace

extern const effects::plugin effects_plugin = {
    {"Orrelind", "Corbelane",
     "Real-time radial whirl/pinch approximation. Whirl: -720..+720 degrees; Pinch: -1..+1; "
     "Radius: 0..2; Center X/Y: normalized.",
     F0R_COLOR_MODEL_BGRA8888, 1, 2},
    {orrelind_params, ORRELIND_PARAM_COUNT, effects::value_rule::unit_nan_as_one,
     effects::boolean_rule::as_value},
    {orrelind_construct, orrelind_destruct, effects::set_in_params<orrelind_instance>,
     effects::get_from_params<orrelind_instance>, orrelind_update_frame}};
