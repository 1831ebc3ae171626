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
// The API header declares the entry points without C linkage; declared
// here with it, and visible, they are what the library exports (the build
// hides everything else).
extern "C" {
#pragma GCC visibility push(default)
#include <frei0r.h>
#pragma GCC visibility pop
}

#include <cstdint>
#include <cstdlib>
#include <limits>

#include "orrelind.h"

namespace {

struct orrelind_param_row {
  const char* name;
  const char* explanation;
  double default_value;
};

const orrelind_param_row orrelind_params[ORRELIND_PARAM_COUNT] = {
    {"Whirl", "Whirl angle: -720 to +720 degrees; 0.5 is neutral.", 0.5},
    {"Pinch", "Pinch amount: -1 to +1; 0.5 is neutral.", 0.5},
    {"Radius", "Radius: 0 to 2; 0.5 gives radius 1.", 0.5},
    {"Center X", "Horizontal center, normalized 0 to 1.", 0.5},
    {"Center Y", "Vertical center, normalized 0 to 1.", 0.5},
};

constexpr uint64_t orrelind_max_pixels = uint64_t(1) << 62;

}  // namespace

extern "C" {

// No global state: init and deinit have nothing to do.
int f0r_init() { return 1; }
void f0r_deinit() {}

// Fills the description; the strings are constants of the library.
void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  if (!info) return;
  info->name = "Orrelind";
  info->author = "Corbelane";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_BGRA8888;
  info->frei0r_version = 1;
  info->major_version = 1;
  info->minor_version = 2;
  info->num_params = ORRELIND_PARAM_COUNT;
  info->explanation =
      "Real-time radial whirl/pinch approximation. Whirl: -720..+720 "
      "degrees; Pinch: -1..+1; Radius: 0..2; Center X/Y: normalized.";
}

// A null record or an index outside the table leaves everything untouched.
void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
  if (!info || unsigned(param_index) >= ORRELIND_PARAM_COUNT) return;
  info->name = orrelind_params[param_index].name;
  info->type = F0R_PARAM_DOUBLE;
  info->explanation = orrelind_params[param_index].explanation;
}

// Null when either side is 0, when the frame has 2^62 pixels or more, or
// when memory for the record or scratch runs out (with nothing left
// allocated).
f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  if (width == 0 || height == 0) return nullptr;
  const uint64_t pixel_count = uint64_t(width) * height;
  if (pixel_count >= orrelind_max_pixels) return nullptr;
  auto* inst = static_cast<orrelind_instance*>(std::calloc(1, sizeof(orrelind_instance)));
  if (!inst) return nullptr;
  inst->frame_width = width;
  inst->frame_height = height;
  for (int i = 0; i < ORRELIND_PARAM_COUNT; ++i) inst->params[i] = orrelind_params[i].default_value;
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

void f0r_destruct(f0r_instance_t instance) {
  auto* inst = static_cast<orrelind_instance*>(instance);
  if (!inst) return;
  std::free(inst->map);
  std::free(inst->scratch);
  std::free(inst);
}

// Stores the value clamped into 0..1, the upper bound first so that a NaN
// becomes 1.0. Null arguments and indices outside the table are ignored.
void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  auto* inst = static_cast<orrelind_instance*>(instance);
  if (!inst || !param || unsigned(param_index) >= ORRELIND_PARAM_COUNT) return;
  const double x = *static_cast<const double*>(param);
  double v = x < 1.0 ? x : 1.0;
  v = 0.0 > v ? 0.0 : v;
  inst->params[param_index] = v;
}

// Writes the stored value (0..1); the same guards as setting.
void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  auto* inst = static_cast<orrelind_instance*>(instance);
  if (!inst || !param || unsigned(param_index) >= ORRELIND_PARAM_COUNT) return;
  *static_cast<double*>(param) = inst->params[param_index];
}

// Warps one frame. inframe and outframe may be one and the same buffer;
// otherwise they must not overlap. Time plays no part. A null argument
// returns at once, writing nothing.
void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe, uint32_t* outframe) {
  (void)time;
  auto* inst = static_cast<orrelind_instance*>(instance);
  if (!inst || !inframe || !outframe) return;
  orrelind_update(inst, inframe, outframe);
}

}  // extern "C"
