// The one entry-point layer of our plug-ins.
//
// A plug-in describes itself once, as constant data: its description, its
// parameter table, how a value from the host becomes the stored one, and a
// handful of hooks that do its work. effect_entry.cpp writes every f0r_*
// function against that description, once for all plug-ins, so a port to
// another platform or C library changes this folder alone.
//
// A frame on its way, in every plug-in: the host calls f0r_update; the layer
// drops null arguments and calls the plug-in's `update` hook, which works out
// the frame's values and hands the pixels to the kernel set chosen when the
// library loaded (isa.h).
//
// Threads: the description is constant and nothing shared is written after
// the library has loaded, so every entry point may run on any thread, as the
// API allows; calls on one instance come from one caller at a time.
#pragma once

#include <cstdint>

#include "frei0r_api.h"

namespace effects {

// How a value from the host becomes the stored one, when it is set.
enum class value_rule : uint8_t {
  // Stored bit for bit; the effect limits it where it uses it.
  as_given,
  // Clamped into 0..1; a value that is not a number is stored as 0.
  unit_nan_as_zero,
  // Clamped into 0..1, the upper bound first, so a value that is not a
  // number is stored as 1.
  unit_nan_as_one,
};

// How a boolean parameter is stored, after the value rule.
enum class boolean_rule : uint8_t {
  // As its value; the effect tests it where it uses it.
  as_value,
  // As 1 when the value is above 0.5, else 0 (0.5 itself and NaN are off).
  on_above_half,
  // As 1 when the value is at least 0.5, else 0.
  on_from_half,
};

struct param {
  const char* name;
  int type;  // F0R_PARAM_DOUBLE or F0R_PARAM_BOOL
  const char* explanation;
  double default_value;  // as the host would set it
};

// What the host is told of the plug-in.
struct description {
  const char* name;
  const char* author;
  const char* explanation;
  int color_model;
  int major_version;
  int minor_version;
};

// The parameter table, and how a value from the host is stored.
struct parameters {
  const param* table;
  int count;
  value_rule values;
  boolean_rule booleans;
};

// What the plug-in does; the layer has dropped every null argument and every
// index outside the table before it calls one of these.
struct hooks {
  // A new instance for frames of width x height (neither is 0), or null
  // with nothing left allocated. The layer then sets every default.
  void* (*construct)(unsigned int width, unsigned int height);
  void (*destruct)(void* instance);
  // Stores parameter `index` as the rules made it; it takes effect at the
  // next update.
  void (*set)(void* instance, int index, double value);
  double (*get)(const void* instance, int index);
  // One frame; in and out are the instance's size and are one buffer or do
  // not overlap.
  void (*update)(void* instance, double time, const uint32_t* in, uint32_t* out);
};

struct plugin {
  description info;
  parameters params;
  hooks hook;
};

// The stored form of `value` for a parameter of this type.
double stored_value(const parameters& p, int type, double value);

// The set and get hooks of an instance type that keeps every stored value in
// its `double params[]`, by parameter index.
template <class Instance>
void set_in_params(void* instance, int index, double value) {
  static_cast<Instance*>(instance)->params[index] = value;
}
template <class Instance>
double get_from_params(const void* instance, int index) {
  return static_cast<const Instance*>(instance)->params[index];
}

}  // namespace effects

// Each plug-in defines this once (hidden, like everything but f0r_*).
extern const effects::plugin effects_plugin;

namespace effects {

// f0r_update's work, for both update entry points. Called directly rather
// than through the exported f0r_update, which another library loaded into
// the process could stand in for.
inline void update(void* instance, double time, const uint32_t* in, uint32_t* out) {
  if (!instance || !in || !out) return;
  effects_plugin.hook.update(instance, time, in, out);
}

}  // namespace effects

// A plug-in that also offers f0r_update2 says so beside its declaration,
// with EFFECTS_OFFERS_UPDATE2 in the same source. A filter uses its first
// input alone, so f0r_update2 is f0r_update with that input; the other two
// may be null.
#define EFFECTS_OFFERS_UPDATE2                                                               \
  EFFECTS_EXPORT void f0r_update2(f0r_instance_t instance, double time,                      \
                                  const uint32_t* inframe1, const uint32_t* /*inframe2*/,    \
                                  const uint32_t* /*inframe3*/, uint32_t* outframe) {        \
    effects::update(instance, time, inframe1, outframe);                                     \
  }
