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
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/effect.h"
#include "vestrale_dispatch.h"

namespace {

enum vestrale_param_index { VESTRALE_DELAY, VESTRALE_SIMPLE, VESTRALE_PARAM_COUNT };

constexpr effects::param vestrale_params[VESTRALE_PARAM_COUNT] = {
    {"Delay", F0R_PARAM_DOUBLE, "Harris shutter color filtering delay", 0.0},
    {"Simple", F0R_PARAM_BOOL,
     "Use simple effect instead of smooth. Reduces RAM usage, less eye-pleasing", 0.0},
};

constexpr uint64_t vestrale_max_pixels = uint64_t(1) << 62;

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
    static constexpr uint32_t channel_mask[3] = {effects::byte_mask(0) | effects::byte_mask(3),
                                                 effects::byte_mask(1) | effects::byte_mask(3),
                                                 effects::byte_mask(2) | effects::byte_mask(3)};
    const uint32_t c = ((n - 1) / inst->delay) % 3;
    vestrale_kernels().refresh(inst->composite, in, out, inst->pixel_count, channel_mask[c]);
  }
  inst->frame_counter = n + 1;
}

void vestrale_update_smooth(vestrale_instance* inst, const uint32_t* in, uint32_t* out) {
  const uint32_t slots = 2 * inst->delay + 1;
  const uint64_t pixels = inst->pixel_count;
  if (inst->slot_count != slots) {
    if (pixels > (vestrale_max_pixels - 1) / slots) {
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

// Null for 2^62 pixels or more; the frames are obtained at the first update
// of a mode.
void* vestrale_construct(unsigned int width, unsigned int height) {
  const uint64_t pixels = uint64_t(width) * height;
  if (pixels >= vestrale_max_pixels) return nullptr;
  auto* inst = static_cast<vestrale_instance*>(std::calloc(1, sizeof(vestrale_instance)));
  if (!inst) return nullptr;
  inst->frame_width = width;
  inst->frame_height = height;
  inst->pixel_count = pixels;
  inst->delay = 1;
  return inst;
}

void vestrale_destruct(void* instance) {
  auto* inst = static_cast<vestrale_instance*>(instance);
  vestrale_free_buffers(inst);
  std::free(inst);
}

// Values arrive clamped to 0..1, Simple as 0 or 1.
void vestrale_set(void* instance, int index, double value) {
  auto* inst = static_cast<vestrale_instance*>(instance);
  if (index == VESTRALE_DELAY) {
    // Delay = trunc(value x 15) + 1 frames. A new delay needs no action
    // here: smooth mode sees slot_count no longer matching and rebuilds,
    // simple mode just uses it.
    inst->delay = uint32_t(value * 15.0) + 1;
    return;
  }
  const int16_t simple = value != 0.0 ? 1 : 0;
  if (simple == inst->simple) return;
  inst->simple = simple;
  inst->frame_counter = 0;
  vestrale_free_buffers(inst);
}

double vestrale_get(const void* instance, int index) {
  const auto* inst = static_cast<const vestrale_instance*>(instance);
  if (index == VESTRALE_DELAY) return double(inst->delay - 1) / 15.0;
  return inst->simple ? 1.0 : 0.0;
}

void vestrale_update(void* instance, double /*time*/, const uint32_t* in, uint32_t* out) {
  auto* inst = static_cast<vestrale_instance*>(instance);
  if (inst->simple)
    vestrale_update_simple(inst, in, out);
  else
    vestrale_update_smooth(inst, in, out);
}

}  // namespace

extern const effects::plugin effects_plugin = {
    {"vestrale", "Halvestrom", "Harris shutter effect: dynamic RGB split with a delay",
     F0R_COLOR_MODEL_RGBA8888, 1, 0},
    {vestrale_params, VESTRALE_PARAM_COUNT, effects::value_rule::unit_nan_as_zero,
     effects::boolean_rule::on_from_half},
    {vestrale_construct, vestrale_destruct, vestrale_set, vestrale_get, vestrale_update}};
