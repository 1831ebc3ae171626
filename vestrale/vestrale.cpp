// vestrale: Harris shutter, a delayed RGB split.
//
// Red, green and blue of each output frame come from input frames taken at
// different moments, so whatever moves separates into coloured fringes while
// a still picture passes unchanged.
//
//   Delay   0..1, mapped to 1..16 frames: how far the channels are apart.
//   Simple  off: red is 2 x delay frames old, green delay frames, blue and
//                alpha current (a ring of 2 x delay + 1 frames);
//           on:  one persistent frame of which a single colour channel is
//                refreshed at a time, moving on every delay frames (one
//                frame of memory instead of up to 33).
//
// The time argument is not used: frames are counted.
// The API header declares the entry points without C linkage guards; its
// declarations also carry the one visibility that leaves this library.
extern "C" {
#pragma GCC visibility push(default)
#include <frei0r.h>
#pragma GCC visibility pop
}

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vestrale_kernels.h"

namespace {

enum param_index { PARAM_DELAY = 0, PARAM_SIMPLE = 1, PARAM_COUNT };

struct param_row {
  const char* name;
  int type;
  const char* explanation;
};

constexpr param_row vestrale_params[PARAM_COUNT] = {
    {"Delay", F0R_PARAM_DOUBLE, "Harris shutter color filtering delay"},
    {"Simple", F0R_PARAM_BOOL,
     "Use simple effect instead of smooth. Reduces RAM usage, less "
     "eye-pleasing"},
};

constexpr uint64_t PIXEL_LIMIT = uint64_t(1) << 62;

struct vestrale_instance {
  uint32_t frame_width;
  uint32_t frame_height;
  uint64_t pixel_count;
  int16_t simple;
  uint32_t delay;
  uint32_t frame_counter;
  uint32_t* composite;
  uint32_t* ring;
  uint32_t slot_count;
};

void vestrale_pass_through(const vestrale_instance* inst, const uint32_t* in, uint32_t* out) {
  if (in != out) std::memmove(out, in, inst->pixel_count * 4);
}

void vestrale_free_buffers(vestrale_instance* inst) {
  std::free(inst->composite);
  std::free(inst->ring);
  inst->composite = nullptr;
  inst->ring = nullptr;
  inst->slot_count = 0;
}

// delay = trunc(clamp(x) * 15) + 1. The clamp lets a NaN through, and
// converting a NaN to an integer is undefined, so it is caught first.
uint32_t vestrale_delay_from(double x) {
  double v = 0.0 > x ? 0.0 : x;
  v = v > 1.0 ? 1.0 : v;
  if (std::isnan(v)) return 1;
  return uint32_t(std::trunc(v * 15.0)) + 1;
}

void vestrale_update_simple(vestrale_instance* inst, const uint32_t* in, uint32_t* out) {
  const uint64_t bytes = inst->pixel_count * 4;
  if (!inst->composite) {
    inst->composite = static_cast<uint32_t*>(std::malloc(bytes));
    if (!inst->composite) {
      vestrale_pass_through(inst, in, out);
      return;
    }
  }
  const uint32_t n = inst->frame_counter;
  if (n == 0) {
    std::memcpy(inst->composite, in, bytes);
    if (in != out) std::memcpy(out, in, bytes);
  } else {
    // The refreshed colour byte and alpha come from the input.
    static constexpr uint32_t channel_mask[3] = {vestrale_byte_mask(0) | vestrale_byte_mask(3),
                                                 vestrale_byte_mask(1) | vestrale_byte_mask(3),
                                                 vestrale_byte_mask(2) | vestrale_byte_mask(3)};
    const uint32_t c = ((n - 1) / inst->delay) % 3;
    vestrale_kernels().refresh(inst->composite, in, out, inst->pixel_count, channel_mask[c]);
  }
  inst->frame_counter = n + 1;
}

void vestrale_update_smooth(vestrale_instance* inst, const uint32_t* in, uint32_t* out) {
  const uint32_t slots = 2 * inst->delay + 1;
  const uint64_t pixels = inst->pixel_count;
  if (inst->slot_count != slots) {
    if (pixels > (PIXEL_LIMIT - 1) / slots) {
      vestrale_pass_through(inst, in, out);
      return;
    }
    // The old frames are of no use at another delay; realloc only keeps the
    // old block when the new one cannot be had.
    void* grown = std::realloc(inst->ring, slots * pixels * 4);
    if (!grown) {
      vestrale_pass_through(inst, in, out);
      return;
    }
    inst->ring = static_cast<uint32_t*>(grown);
    inst->slot_count = slots;
    inst->frame_counter = 0;
  }
  const uint32_t n = inst->frame_counter;
  const uint32_t s = n % slots;
  const uint32_t green_lag = n < inst->delay ? n : inst->delay;
  const uint32_t red_lag = n < 2 * inst->delay ? n : 2 * inst->delay;
  const uint32_t g = (s + slots - green_lag) % slots;
  const uint32_t r = (s + slots - red_lag) % slots;

  uint32_t* slot = inst->ring + uint64_t(s) * pixels;
  // Slot s receives a copy of the input, so wherever a lag is cut to zero
  // the input itself is the source.
  const uint32_t* red = r == s ? in : inst->ring + uint64_t(r) * pixels;
  const uint32_t* green = g == s ? in : inst->ring + uint64_t(g) * pixels;
  vestrale_kernels().split(in, red, green, slot, out, pixels);
  inst->frame_counter = n + 1;
}

}  // namespace

extern "C" {

int f0r_init() { return 1; }

void f0r_deinit() {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  if (!info) return;
  info->name = "vestrale";
  info->author = "Halvestrom";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_RGBA8888;
  info->frei0r_version = 1;
  info->major_version = 1;
  info->minor_version = 0;
  info->num_params = PARAM_COUNT;
  info->explanation = "Harris shutter effect: dynamic RGB split with a delay";
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
  if (!info || index < 0 || index >= PARAM_COUNT) return;
  info->name = vestrale_params[index].name;
  info->type = vestrale_params[index].type;
  info->explanation = vestrale_params[index].explanation;
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  if (width == 0 || height == 0) return nullptr;
  const uint64_t pixels = uint64_t(width) * height;
  if (pixels >= PIXEL_LIMIT) return nullptr;
  auto* inst = static_cast<vestrale_instance*>(std::calloc(1, sizeof(vestrale_instance)));
  if (!inst) return nullptr;
  inst->frame_width = width;
  inst->frame_height = height;
  inst->pixel_count = pixels;
  inst->delay = 1;
  return inst;
}

void f0r_destruct(f0r_instance_t instance) {
  auto* inst = static_cast<vestrale_instance*>(instance);
  if (!inst) return;
  vestrale_free_buffers(inst);
  std::free(inst);
}

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  auto* inst = static_cast<vestrale_instance*>(instance);
  if (!inst || !param) return;
  const double x = *static_cast<const double*>(param);
  switch (index) {
    case PARAM_DELAY:
      // A new delay needs no action here: smooth mode sees slot_count no
      // longer matching and rebuilds, simple mode just uses it.
      inst->delay = vestrale_delay_from(x);
      break;
    case PARAM_SIMPLE: {
      const int16_t b = x >= 0.5 ? 1 : 0;
      if (b == inst->simple) break;
      inst->simple = b;
      inst->frame_counter = 0;
      vestrale_free_buffers(inst);
      break;
    }
    default:
      break;
  }
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  const auto* inst = static_cast<const vestrale_instance*>(instance);
  double* out = static_cast<double*>(param);
  if (!inst || !out) return;
  switch (index) {
    case PARAM_DELAY:
      *out = double(inst->delay - 1) / 15.0;
      break;
    case PARAM_SIMPLE:
      *out = inst->simple ? 1.0 : 0.0;
      break;
    default:
      break;
  }
}

void f0r_update(f0r_instance_t instance, double /*time*/, const uint32_t* inframe,
                uint32_t* outframe) {
  auto* inst = static_cast<vestrale_instance*>(instance);
  if (!inst || !inframe || !outframe) return;
  if (inst->simple)
    vestrale_update_simple(inst, inframe, outframe);
  else
    vestrale_update_smooth(inst, inframe, outframe);
}

}  // extern "C"
