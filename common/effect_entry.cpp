// The f0r_* entry points of every plug-in, written once against the
// plug-in's description (effect.h).
//
// Every entry point is null-safe: a null record, instance, value pointer or
// frame, or an index outside the parameter table (a negative one too), is
// ignored and writes nothing. Nothing is logged and nothing escapes.
#include <cstring>

#include "effect.h"

namespace effects {

double stored_value(const parameters& p, int type, double value) {
  switch (p.values) {
    case value_rule::as_given:
      break;
    case value_rule::unit_nan_as_zero:
      if (!(value >= 0.0)) value = 0.0;
      if (value > 1.0) value = 1.0;
      break;
    case value_rule::unit_nan_as_one:
      value = value < 1.0 ? value : 1.0;
      value = 0.0 > value ? 0.0 : value;
      break;
  }
  if (type != F0R_PARAM_BOOL) return value;
  switch (p.booleans) {
    case boolean_rule::as_value:
      return value;
    case boolean_rule::on_above_half:
      return value > 0.5 ? 1.0 : 0.0;
    case boolean_rule::on_from_half:
      return value >= 0.5 ? 1.0 : 0.0;
  }
  return value;
}

namespace {

bool in_table(int index) { return index >= 0 && index < effects_plugin.params.count; }

}  // namespace
}  // namespace effects

// Returns 1; nothing depends on it having been called.
EFFECTS_EXPORT int f0r_init() { return 1; }

EFFECTS_EXPORT void f0r_deinit() {}

// The texts are constants of the library, valid while it is loaded.
EFFECTS_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  if (!info) return;
  const effects::description& p = effects_plugin.info;
  info->name = p.name;
  info->author = p.author;
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = p.color_model;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = p.major_version;
  info->minor_version = p.minor_version;
  info->num_params = effects_plugin.params.count;
  info->explanation = p.explanation;
}

EFFECTS_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
  if (!info || !effects::in_table(param_index)) return;
  const effects::param& row = effects_plugin.params.table[param_index];
  info->name = row.name;
  info->type = row.type;
  info->explanation = row.explanation;
}

// Null for a zero side, or when the plug-in cannot make an instance of this
// size; otherwise the instance, holding every default.
EFFECTS_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  if (width == 0 || height == 0) return nullptr;
  const effects::plugin& p = effects_plugin;
  void* instance = p.hook.construct(width, height);
  if (!instance) return nullptr;
  for (int i = 0; i < p.params.count; ++i) {
    const effects::param& row = p.params.table[i];
    p.hook.set(instance, i, effects::stored_value(p.params, row.type, row.default_value));
  }
  return instance;
}

EFFECTS_EXPORT void f0r_destruct(f0r_instance_t instance) {
  if (instance) effects_plugin.hook.destruct(instance);
}

EFFECTS_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param,
                                        int param_index) {
  if (!instance || !param || !effects::in_table(param_index)) return;
  const effects::plugin& p = effects_plugin;
  double value;
  std::memcpy(&value, param, sizeof value);
  const int type = p.params.table[param_index].type;
  p.hook.set(instance, param_index, effects::stored_value(p.params, type, value));
}

EFFECTS_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param,
                                        int param_index) {
  if (!instance || !param || !effects::in_table(param_index)) return;
  const double value = effects_plugin.hook.get(instance, param_index);
  std::memcpy(param, &value, sizeof value);
}

// inframe and outframe are one buffer or do not overlap.
EFFECTS_EXPORT void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe,
                               uint32_t* outframe) {
  effects::update(instance, time, inframe, outframe);
}
