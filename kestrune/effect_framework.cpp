// The f0r_* entry points of a plug-in built on effect_framework.h: each one
// forwards to the effect object behind the instance handle.
//
// Threads: the registration data below is written only while the library
// loads, before any entry point can run; the entry points only read it. So
// f0r_get_plugin_info, f0r_get_param_info, f0r_construct and f0r_destruct
// may run concurrently with anything, and calls on different instances touch
// only their own objects. A null record, instance, value pointer or frame is
// ignored by every entry point.
#include <cstring>

#include "effect_framework.h"

namespace frei0r {

const char* plugin_name = "";
const char* plugin_author = "";
const char* plugin_explanation = "";
int plugin_major_version = 0;
int plugin_minor_version = 0;
int plugin_color_model = F0R_COLOR_MODEL_RGBA8888;
param_entry param_table[max_params] = {};
size_t param_count = 0;
bool registering = false;
fx* (*build_effect)(unsigned int width, unsigned int height) = nullptr;

namespace {

// The member behind a parameter index, or null when the call must be
// ignored: a null argument, or an index outside the object's and the
// table's parameters.
void* param_member(f0r_instance_t instance, const void* param, int param_index) {
  if (!instance || !param || param_index < 0) return nullptr;
  fx* object = static_cast<fx*>(instance);
  if (param_index >= static_cast<int32_t>(object->param_value_ptrs.size()) ||
      static_cast<size_t>(param_index) >= param_count)
    return nullptr;
  return object->param_value_ptrs[param_index];
}

}  // namespace
}  // namespace frei0r

extern "C" {

// Returns 1; nothing depends on it having been called.
int f0r_init() { return 1; }

void f0r_deinit() {}

// The texts are the plug-in's constants, valid while the library is loaded.
void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  if (!info) return;
  info->name = frei0r::plugin_name;
  info->author = frei0r::plugin_author;
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = frei0r::plugin_color_model;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = frei0r::plugin_major_version;
  info->minor_version = frei0r::plugin_minor_version;
  info->num_params = static_cast<int>(frei0r::param_count);
  info->explanation = frei0r::plugin_explanation;
}

// Ignores a null record and an index outside the table. The texts stay valid
// while the library is loaded.
void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
  if (!info || param_index < 0 || static_cast<size_t>(param_index) >= frei0r::param_count) return;
  const frei0r::param_entry& entry = frei0r::param_table[param_index];
  info->name = entry.name;
  info->type = entry.type;
  info->explanation = entry.description;
}

// Returns null when the object cannot be built or is not valid for this
// size. The parameter table is never touched.
f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  frei0r::fx* object = frei0r::build_effect ? frei0r::build_effect(width, height) : nullptr;
  if (!object) return nullptr;
  object->width = width;
  object->height = height;
  object->pixel_count = width * height;
  return static_cast<void*>(object);
}

void f0r_destruct(f0r_instance_t instance) {
  if (!instance) return;
  frei0r::fx* object = static_cast<frei0r::fx*>(instance);
  object->~fx();
  ::operator delete(static_cast<void*>(object));
}

// Stores the host's value unchanged (a boolean as value > 0.5); the effect
// limits it where it uses it. Bad arguments are ignored.
void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  void* member = frei0r::param_member(instance, param, param_index);
  if (!member) return;
  switch (frei0r::param_table[param_index].type) {
    case F0R_PARAM_BOOL: {
      double value;
      std::memcpy(&value, param, sizeof value);
      *static_cast<bool*>(member) = value > 0.5;
      break;
    }
    case F0R_PARAM_DOUBLE:
      std::memcpy(member, param, sizeof(double));
      break;
    case F0R_PARAM_COLOR:
      std::memcpy(member, param, sizeof(f0r_param_color_t));
      break;
    case F0R_PARAM_POSITION:
      std::memcpy(member, param, sizeof(f0r_param_position_t));
      break;
    case F0R_PARAM_STRING: {
      const char* text = *static_cast<const char* const*>(param);
      if (!text) break;
      try {
        static_cast<std::string*>(member)->assign(text);
      } catch (...) {
        // Out of memory: the old text stays, as the assignment leaves it.
      }
      break;
    }
    default:
      break;
  }
}

// Writes the member's value in the API's form; bad arguments are ignored.
// A string comes back as a pointer valid until it changes or the instance
// is destructed.
void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  const void* member = frei0r::param_member(instance, param, param_index);
  if (!member) return;
  switch (frei0r::param_table[param_index].type) {
    case F0R_PARAM_BOOL: {
      const double value = *static_cast<const bool*>(member) ? 1.0 : 0.0;
      std::memcpy(param, &value, sizeof value);
      break;
    }
    case F0R_PARAM_DOUBLE:
      std::memcpy(param, member, sizeof(double));
      break;
    case F0R_PARAM_COLOR:
      std::memcpy(param, member, sizeof(f0r_param_color_t));
      break;
    case F0R_PARAM_POSITION:
      std::memcpy(param, member, sizeof(f0r_param_position_t));
      break;
    case F0R_PARAM_STRING:
      *static_cast<const char**>(param) = static_cast<const std::string*>(member)->c_str();
      break;
    default:
      break;
  }
}

// A null instance or frame is ignored and writes nothing; otherwise the
// frames must hold the instance's pixels.
void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe, uint32_t* outframe) {
  if (!instance || !inframe || !outframe) return;
  try {
    static_cast<frei0r::fx*>(instance)->update(time, outframe, inframe, nullptr, nullptr);
  } catch (...) {
  }
}

// The second and third inputs may be null (a filter ignores them).
void f0r_update2(f0r_instance_t instance, double time, const uint32_t* inframe1,
                 const uint32_t* inframe2, const uint32_t* inframe3, uint32_t* outframe) {
  if (!instance || !inframe1 || !outframe) return;
  try {
    static_cast<frei0r::fx*>(instance)->update(time, outframe, inframe1, inframe2, inframe3);
  } catch (...) {
  }
}

}  // extern "C"
