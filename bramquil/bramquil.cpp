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
#include "bramquil_kernels.h"

// The API header declares its entry points without C linkage of its own.
extern "C" {
#include <frei0r.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

struct bramquil_param_entry {
  const char* name;
  int type;
  double default_value;
  const char* explanation;
};

const bramquil_param_entry bramquil_params[BRAMQUIL_PARAM_COUNT] = {
    {"Mode", F0R_PARAM_DOUBLE, 0.0,
     "Composition: < 0.5 Scan (flat slit image), >= 0.5 Stargate (slits "
     "projected onto walls receding to a vanishing point)"},
    {"Position", F0R_PARAM_DOUBLE, 0.5, "Position of the slit across the input frame"},
    {"Vertical", F0R_PARAM_BOOL, 1.0,
     "Sample a vertical slit (a column) instead of a horizontal one (a row); "
     "changing it restarts the image"},
    {"Width", F0R_PARAM_DOUBLE, 0.0,
     "Slit width, from 1 to 64 pixels: how far the image advances on every "
     "frame"},
    {"Reverse", F0R_PARAM_BOOL, 0.0,
     "Scan: new slits enter at the left (top) edge instead of the right "
     "(bottom) one. Stargate: slits flow inwards"},
    {"Depth", F0R_PARAM_DOUBLE, 0.25,
     "Stargate: how far the tunnel reaches; larger values shrink the dark "
     "hole in the middle"},
    {"Fade", F0R_PARAM_DOUBLE, 1.0,
     "Stargate: darken the walls with distance, as in a long exposure"},
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

}  // namespace

extern "C" {

// Nothing to set up; every plug-in entry point works without it.
__attribute__((visibility("default"))) int f0r_init() { return 1; }

__attribute__((visibility("default"))) void f0r_deinit() {}

__attribute__((visibility("default"))) void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  if (!info) return;
  info->name = "bramquil";
  info->author = "Pellowind";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_RGBA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = 1;
  info->minor_version = 0;
  info->num_params = BRAMQUIL_PARAM_COUNT;
  info->explanation =
      "Slit scan: lays the slits of consecutive frames side by side, flat "
      "(Scan) or as a tunnel of light (Stargate)";
}

// A null record or any index outside the table, a negative one too, leaves
// everything untouched.
__attribute__((visibility("default"))) void f0r_get_param_info(f0r_param_info_t* info, int index) {
  if (!info || unsigned(index) >= BRAMQUIL_PARAM_COUNT) return;
  info->name = bramquil_params[index].name;
  info->type = bramquil_params[index].type;
  info->explanation = bramquil_params[index].explanation;
}

// Null for a zero side, for 2^62 pixels or more (the ring's byte count must
// fit in 64 bits) and when memory runs out. The ring is one frame of pixels,
// reused in either orientation; the Stargate's cache, also obtained here, is
// optional. Nothing is allocated after construction.
__attribute__((visibility("default"))) f0r_instance_t f0r_construct(unsigned int width,
                                                                    unsigned int height) {
  if (width == 0 || height == 0) return nullptr;
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
  for (int i = 0; i < BRAMQUIL_PARAM_COUNT; ++i) inst->params[i] = bramquil_params[i].default_value;
  bramquil_sg_attach(inst);
  return inst;
}

__attribute__((visibility("default"))) void f0r_destruct(f0r_instance_t instance) {
  auto* inst = static_cast<bramquil_instance*>(instance);
  if (!inst) return;
  std::free(inst->ring);
  std::free(inst->sg.z);
  std::free(inst);
}

// Stores the value clamped to 0..1; one that is not a number stores 0. Null
// arguments are ignored, as by every entry point.
__attribute__((visibility("default"))) void f0r_set_param_value(f0r_instance_t instance,
                                                                f0r_param_t param, int index) {
  if (!instance || !param || unsigned(index) >= BRAMQUIL_PARAM_COUNT) return;
  double v = *static_cast<const double*>(param);
  if (!(v >= 0.0)) v = 0.0;
  if (v > 1.0) v = 1.0;
  static_cast<bramquil_instance*>(instance)->params[index] = v;
}

__attribute__((visibility("default"))) void f0r_get_param_value(f0r_instance_t instance,
                                                                f0r_param_t param, int index) {
  if (!instance || !param || unsigned(index) >= BRAMQUIL_PARAM_COUNT) return;
  *static_cast<double*>(param) = static_cast<bramquil_instance*>(instance)->params[index];
}

// Restarts the ring on the first update, on a time earlier than the previous
// one and when Vertical has changed; otherwise a later time captures a band
// and an equal time (hosts repeat the last time at the end of a clip)
// captures nothing. A time that is not a number is not ordered against
// anything: it captures nothing and is not remembered, so the next real time
// carries on from the last real one; it restarts only a ring that was never
// filled. The ring is complete before the output is written, so inframe and
// outframe may be one buffer. A null instance or frame changes nothing.
__attribute__((visibility("default"))) void f0r_update(f0r_instance_t instance, double time,
                                                       const uint32_t* inframe,
                                                       uint32_t* outframe) {
  auto* inst = static_cast<bramquil_instance*>(instance);
  if (!inst || !inframe || !outframe) return;
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

}  // extern "C"
