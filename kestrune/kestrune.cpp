// kestrune: temporal frame differencing.
//
// Compares every frame with a delayed one from a time-keyed history of past
// frames and shows the difference, so that whatever moves stands out.
//
//   Time Offset  0..1 = a delay of 0..2 seconds, as far back as 1 GiB of
//                history reaches; 0 compares with the previous frame.
//   Mode         below 1/3: negative overlay (the inverted delayed frame laid
//                over the current one); below 2/3: absolute difference;
//                otherwise: motion mask (the current colours, opaque where
//                they changed).
//   Blend        opacity of the inverted delayed frame in the overlay.
//   Contrast     amplification of the differences, 0..1 = 1x..16x.
//   Threshold    differences below this (0..1 of full scale) count as none.
//   Monochrome   compare luma only and give a grey picture.
//
// Values are stored as the host sets them and limited where they are used;
// a Blend, Contrast or Threshold that is not a number counts as 0.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/effect.h"
#include "kestrune_fit_cache.h"
#include "kestrune_history.h"

namespace {

enum kestrune_param_index {
  KESTRUNE_TIME_OFFSET,
  KESTRUNE_MODE,
  KESTRUNE_BLEND,
  KESTRUNE_CONTRAST,
  KESTRUNE_THRESHOLD,
  KESTRUNE_MONOCHROME,
  KESTRUNE_PARAM_COUNT
};

constexpr effects::param kestrune_params[KESTRUNE_PARAM_COUNT] = {
    {"Time Offset", F0R_PARAM_DOUBLE,
     "0..1 = 0..2 seconds, limited to 1 GiB of history; 0 = previous frame", 0.1},
    {"Mode", F0R_PARAM_DOUBLE, "0: negative overlay, 0.5: absolute difference, 1: motion mask",
     0.0},
    {"Blend", F0R_PARAM_DOUBLE, "Opacity of the inverted delayed frame in negative overlay mode",
     0.5},
    {"Contrast", F0R_PARAM_DOUBLE, "Amplification of the differences (0..1 = 1x..16x)", 0.0},
    {"Threshold", F0R_PARAM_DOUBLE, "Ignore differences smaller than this to suppress noise", 0.0},
    {"Monochrome", F0R_PARAM_BOOL, "Compare luminance only and produce a grayscale result", 0.0},
};

struct frame_slot {
  double time;
  uint64_t prev;  // next older frame, or capacity
  uint64_t next;  // next newer frame (or next free slot), or capacity
};

// All history, pixels and bookkeeping together fits in this many bytes
// (kestrune/CMakeLists.txt: 1 GiB when shipped).
#ifndef KESTRUNE_HISTORY_BUDGET
#define KESTRUNE_HISTORY_BUDGET 1073741824
#endif
constexpr uint64_t HISTORY_BUDGET = KESTRUNE_HISTORY_BUDGET;
// Larger frames are refused, so that at least two fit in the budget
// (134,217,722 pixels for 1 GiB).
constexpr uint32_t PIXEL_LIMIT = uint32_t((HISTORY_BUDGET / 2 - sizeof(frame_slot)) / 4);
static_assert(PIXEL_LIMIT > 0, "the budget must hold two one-pixel frames");
static_assert(HISTORY_BUDGET != uint64_t(1) << 30 || PIXEL_LIMIT == 134217722,
              "1 GiB holds two frames of 134,217,722 pixels");

// 0 below 0, 1 above 1, the value otherwise (a NaN passes through).
double clamp_unit(double x) {
  if (x < 0.0) return 0.0;
  if (x > 1.0) return 1.0;
  return x;
}

// As clamp_unit, but a value that is not a number counts as 0: these feed
// conversions to integers, where a NaN would be undefined.
double clamp_unit_number(double x) { return std::isnan(x) ? 0.0 : clamp_unit(x); }

// One instance: the parameter values as the host set them (Monochrome as 0
// or 1), the frame history and the integer forms of the compositing.
class kestrune {
 public:
  kestrune(uint32_t frame_width, uint32_t frame_height);
  ~kestrune();
  kestrune(const kestrune&) = delete;
  kestrune& operator=(const kestrune&) = delete;

  bool is_valid() const { return pixel_store && slots; }
  void update(double time, const uint32_t* in, uint32_t* out);

  double params[KESTRUNE_PARAM_COUNT] = {};

 private:
  void size_history(uint32_t w, uint32_t h);
  bool takes_fresh_slot(double now) const;
  void unlink(uint64_t s);
  uint64_t take_slot();
  uint32_t* frame_at(uint64_t s) const { return pixel_store + s * frame_pixels; }

  uint64_t frame_pixels = 0;
  uint64_t capacity = 0;
  uint64_t oldest_slot = 0;
  uint64_t newest_slot = 0;
  uint64_t frame_count = 0;
  uint64_t free_slot = 0;
  uint64_t fresh_slot = 0;
  kestrune_history history;
  frame_slot* slots = nullptr;
  uint32_t* pixel_store = nullptr;
  // Each mode's integer form, kept while the gain and opacity stay.
  kestrune_fit_cache integer_forms;
};

kestrune::kestrune(uint32_t frame_width, uint32_t frame_height) {
  size_history(frame_width, frame_height);
}

// The store releases the pixels, then the records.
kestrune::~kestrune() = default;

// As many frames as fit in the budget, each charged its pixels and its slot
// record. The store is only reserved here: memory comes with the frames that
// arrive (see kestrune_history.h).
void kestrune::size_history(uint32_t w, uint32_t h) {
  if (PIXEL_LIMIT / h < w) return;
  frame_pixels = uint64_t(w) * h;
  const uint64_t frame_bytes = 4 * frame_pixels + sizeof(frame_slot);
  capacity = frame_bytes > HISTORY_BUDGET ? 0 : HISTORY_BUDGET / frame_bytes;
  const bool reserved = history.reserve(capacity, 4 * frame_pixels, sizeof(frame_slot));
  pixel_store = static_cast<uint32_t*>(history.pixels());
  if (!pixel_store) return;
  slots = reserved ? static_cast<frame_slot*>(history.records()) : nullptr;
  oldest_slot = newest_slot = free_slot = capacity;
}

// Whether this update will store its frame in a slot never used before: only
// when the history is not full, no slot is free, and neither a seek back nor
// expiry unlinks a frame first (the steps of update() below).
bool kestrune::takes_fresh_slot(double now) const {
  if (free_slot != capacity || frame_count == capacity) return false;
  if (frame_count > 0 && slots[newest_slot].time >= now) return false;
  if (frame_count >= 2 &&
      slots[slots[oldest_slot].next].time <= now - 2.0 * clamp_unit(params[KESTRUNE_TIME_OFFSET]))
    return false;
  return true;
}

// Takes slot s out of the frame list and puts it on the free list.
void kestrune::unlink(uint64_t s) {
  const uint64_t p = slots[s].prev;
  const uint64_t q = slots[s].next;
  if (p == capacity)
    oldest_slot = q;
  else
    slots[p].next = q;
  if (q == capacity)
    newest_slot = p;
  else
    slots[q].prev = p;
  slots[s].next = free_slot;
  free_slot = s;
  --frame_count;
}

uint64_t kestrune::take_slot() {
  if (free_slot != capacity) {
    const uint64_t s = free_slot;
    free_slot = slots[s].next;
    return s;
  }
  return fresh_slot++;
}

// History first: drop what lies at or after `time` (a seek back or a repeated
// time), drop what is older than the delay needs, keep this frame as the
// newest; the oldest frame left is the reference. Then one pass stores the
// frame into its slot and composites. A NaN time compares false everywhere:
// it drops nothing.
void kestrune::update(double time, const uint32_t* in, uint32_t* out) {
  const double now = time;
  // Memory for a new slot can be refused (kestrune_history.h): the frame then
  // passes unchanged and the history stays as it was.
  if (takes_fresh_slot(now) && !history.commit(fresh_slot)) {
    if (out != in) std::memcpy(out, in, size_t(frame_pixels) * 4);
    return;
  }
  while (frame_count > 0 && slots[newest_slot].time >= now) unlink(newest_slot);

  if (frame_count >= 2) {
    const double cutoff = now - 2.0 * clamp_unit(params[KESTRUNE_TIME_OFFSET]);
    while (frame_count >= 2 && slots[slots[oldest_slot].next].time <= cutoff) unlink(oldest_slot);
  }

  if (frame_count == capacity) unlink(oldest_slot);
  const uint64_t s = take_slot();
  slots[s] = frame_slot{now, newest_slot, capacity};
  if (frame_count > 0)
    slots[newest_slot].next = s;
  else
    oldest_slot = s;
  newest_slot = s;
  ++frame_count;

  kestrune_job work;
  work.in = in;
  work.current = frame_at(s);
  work.reference = frame_at(oldest_slot);
  work.out = out;
  work.pixels = size_t(frame_pixels);
  const double mode = params[KESTRUNE_MODE];
  work.mode = mode < 1.0 / 3.0   ? kestrune_mode::negative_overlay
              : mode < 2.0 / 3.0 ? kestrune_mode::absolute_difference
                                 : kestrune_mode::motion_mask;
  work.monochrome = params[KESTRUNE_MONOCHROME] != 0.0;
  work.gain = std::exp2(4.0 * clamp_unit_number(params[KESTRUNE_CONTRAST]));
  work.opacity = clamp_unit_number(params[KESTRUNE_BLEND]);
  work.inverse_opacity = 1.0 - work.opacity;
  work.level = static_cast<int32_t>(clamp_unit_number(params[KESTRUNE_THRESHOLD]) * 255.0 + 0.5);
  kestrune_composite(work, integer_forms);
}

// Null for frames of more than PIXEL_LIMIT pixels and when memory runs out,
// with nothing left allocated. Memory comes from malloc, as in the other
// plug-ins: MinGW's non-throwing operator new throws and catches inside, and
// with memory exhausted that throw itself fails over and over until the
// stack does.
void* kestrune_construct(unsigned int width, unsigned int height) {
  static_assert(alignof(kestrune) <= alignof(std::max_align_t), "storage comes from malloc");
  void* storage = std::malloc(sizeof(kestrune));
  if (!storage) return nullptr;
  auto* inst = new (storage) kestrune(width, height);
  if (inst->is_valid()) return inst;
  inst->~kestrune();
  std::free(storage);
  return nullptr;
}

void kestrune_destruct(void* instance) {
  auto* inst = static_cast<kestrune*>(instance);
  inst->~kestrune();
  std::free(inst);
}

void kestrune_update(void* instance, double time, const uint32_t* in, uint32_t* out) {
  static_cast<kestrune*>(instance)->update(time, in, out);
}

}  // namespace

extern const effects::plugin effects_plugin = {
    {"kestrune", "Pellowind",
     "Temporal frame differencing: overlays an inverted delayed frame to reveal motion",
     F0R_COLOR_MODEL_RGBA8888, 0, 1},
    {kestrune_params, KESTRUNE_PARAM_COUNT, effects::value_rule::as_given,
     effects::boolean_rule::on_above_half},
    {kestrune_construct, kestrune_destruct, effects::set_in_params<kestrune>,
     effects::get_from_params<kestrune>, kestrune_update}};

// GStreamer's frei0r elements call f0r_update2 where a plug-in has it.
EFFECTS_OFFERS_UPDATE2
