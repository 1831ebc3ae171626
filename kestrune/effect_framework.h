// A small effect-object framework for frei0r plug-ins.
//
// An effect is a class derived from frei0r::filter. Its constructor takes the
// frame width and height, registers the members that hold its parameter
// values with add_param() (the order of the calls numbers the parameters),
// and does whatever sizing it needs; is_valid() tells whether that sizing
// succeeded. Its update() receives the time in seconds and the frames.
//
// The plug-in source includes this header exactly once and defines one
//
//   frei0r::registration<effect> registered(name, explanation, author,
//                                            major, minor, color_model);
//
// at namespace scope. That object fills the process-wide description when
// the library is loaded; the f0r_* entry points defined below forward to the
// effect object behind each instance handle.
//
// Contract with the host, in short: f0r_construct must not run at the same
// time as any other entry point of the library (it rebuilds the process-wide
// parameter table); everything else on one instance is called by one caller
// at a time. No exception ever leaves an entry point.
#pragma once

// The API header declares the entry points without C linkage guards; its
// declarations also carry the one visibility that leaves this library.
extern "C" {
#pragma GCC visibility push(default)
#include <frei0r.h>
#pragma GCC visibility pop
}

#include <cstdint>
#include <cstring>
#include <list>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace frei0r {

class fx;

// One registered parameter. The texts live in param_texts, not in the entry:
// hosts keep the pointers that f0r_get_param_info hands out (MLT reads them
// from render threads while another thread may be constructing), so a text
// must outlive every rebuild of the table.
struct param_entry {
  const std::string* name;
  const std::string* description;
  int32_t type;
};

// Process-wide registration data. Defined in this order so that they are
// created (and, at unload, destroyed in reverse) around the registration
// object of the plug-in source.
inline std::string plugin_name;
inline std::string plugin_author;
inline std::string plugin_explanation;
inline int plugin_major_version = 0;
inline int plugin_minor_version = 0;
inline int plugin_color_model = F0R_COLOR_MODEL_RGBA8888;
// Every distinct parameter text ever registered, kept until unload. A list
// never moves its elements when it grows, so the characters stay put; and
// unlike a deque its empty state allocates nothing, so building this global
// at load time cannot throw out of the library's initialisation.
inline std::list<std::string> param_texts;
inline std::vector<param_entry> param_table;

// Builds one effect object for f0r_construct; set by the registration.
inline fx* (*build_effect)(unsigned int width, unsigned int height) = nullptr;

// Returns the kept copy of `text`, adding one when there is none yet.
// Throws std::bad_alloc (and then keeps nothing new).
inline const std::string* keep_text(const std::string& text) {
  for (const std::string& kept : param_texts)
    if (kept == text) return &kept;
  param_texts.push_back(text);
  return &param_texts.back();
}

// Base of every effect. Not copyable: the parameter pointers designate the
// object's own members.
class fx {
 public:
  virtual unsigned int plugin_kind() const = 0;
  virtual bool is_valid() const { return true; }
  // The update both update entry points call: in2 and in3 are null for
  // f0r_update. No test of the arguments: they are the host's duty.
  virtual void update(double time, uint32_t* out, const uint32_t* in1,
                      const uint32_t* in2, const uint32_t* in3) = 0;
  virtual ~fx() = default;

  fx(const fx&) = delete;
  fx& operator=(const fx&) = delete;

  // Set by f0r_construct once the object is known to be valid.
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t pixel_count = 0;
  // One pointer per registered parameter, to the member holding its value.
  std::vector<void*> param_value_ptrs;

 protected:
  // Every construction describes its parameters afresh.
  fx() { param_table.clear(); }

  // Registration, in parameter order. Each throws std::bad_alloc when
  // memory runs out.
  void add_param(double& member, const std::string& name,
                 const std::string& description) {
    register_param(&member, name, description, F0R_PARAM_DOUBLE);
  }
  void add_param(bool& member, const std::string& name,
                 const std::string& description) {
    register_param(&member, name, description, F0R_PARAM_BOOL);
  }
  void add_param(f0r_param_color_t& member, const std::string& name,
                 const std::string& description) {
    register_param(&member, name, description, F0R_PARAM_COLOR);
  }
  void add_param(f0r_param_position_t& member, const std::string& name,
                 const std::string& description) {
    register_param(&member, name, description, F0R_PARAM_POSITION);
  }
  void add_param(std::string& member, const std::string& name,
                 const std::string& description) {
    register_param(&member, name, description, F0R_PARAM_STRING);
  }

 private:
  void register_param(void* member, const std::string& name,
                      const std::string& description, int32_t type) {
    param_value_ptrs.push_back(member);
    const param_entry entry{keep_text(name), keep_text(description), type};
    param_table.push_back(entry);
  }
};

// One input frame in, one out. The three-input update passes the first
// input on and ignores the others.
class filter : public fx {
 public:
  unsigned int plugin_kind() const override { return F0R_PLUGIN_TYPE_FILTER; }
  void update(double time, uint32_t* out, const uint32_t* in1,
              const uint32_t* /*in2*/, const uint32_t* /*in3*/) override {
    update(time, out, in1);
  }
  virtual void update(double time, uint32_t* out, const uint32_t* in) = 0;
};

// Steps 2 to 5 of f0r_construct for one effect class: the object, or null
// with nothing left allocated.
template <class effect>
fx* build(unsigned int width, unsigned int height) {
  static_assert(alignof(effect) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__,
                "storage comes from the plain allocation operator");
  void* storage = ::operator new(sizeof(effect), std::nothrow);
  if (!storage) return nullptr;
  fx* object;
  try {
    object = new (storage) effect(width, height);
  } catch (...) {
    // The constructor has released what it had obtained; only the storage
    // is left.
    ::operator delete(storage);
    return nullptr;
  }
  bool valid = false;
  try {
    valid = object->is_valid();
  } catch (...) {
  }
  if (!valid) {
    object->~fx();
    ::operator delete(storage);
    return nullptr;
  }
  return object;
}

// Load-time registration: fills the description and the parameter table
// by constructing a throw-away effect object of size 0 x 0. Nothing escapes
// it: a failure here (memory exhausted while the library loads) leaves a
// partial description rather than terminating the host.
template <class effect>
class registration {
 public:
  registration(const char* name, const char* explanation, const char* author,
               int major_version, int minor_version, int color_model) {
    build_effect = &build<effect>;
    try {
      const std::string name_text(name);
      const std::string explanation_text(explanation);
      const std::string author_text(author);
      const effect probe(0, 0);
      plugin_name = name_text;
      plugin_explanation = explanation_text;
      plugin_author = author_text;
      plugin_minor_version = minor_version;
      plugin_color_model = color_model;
      plugin_major_version = major_version;
    } catch (...) {
    }
  }
  registration(const registration&) = delete;
  registration& operator=(const registration&) = delete;
};

// The member behind a parameter index, or null when the call must be
// ignored: a null argument, or an index outside the object's and the
// table's parameters.
inline void* param_member(f0r_instance_t instance, const void* param,
                          int param_index) {
  if (!instance || !param || param_index < 0) return nullptr;
  fx* object = static_cast<fx*>(instance);
  if (param_index >= static_cast<int32_t>(object->param_value_ptrs.size()) ||
      static_cast<size_t>(param_index) >= param_table.size())
    return nullptr;
  return object->param_value_ptrs[param_index];
}

}  // namespace frei0r

extern "C" {

// Returns 1; nothing depends on it having been called.
int f0r_init() { return 1; }

void f0r_deinit() {}

// The texts point into process-wide strings valid while the library is
// loaded.
void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  info->name = frei0r::plugin_name.c_str();
  info->author = frei0r::plugin_author.c_str();
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = frei0r::plugin_color_model;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = frei0r::plugin_major_version;
  info->minor_version = frei0r::plugin_minor_version;
  info->num_params = static_cast<int>(frei0r::param_table.size());
  info->explanation = frei0r::plugin_explanation.c_str();
}

// Ignores a null record and an index outside the table. The texts stay valid
// while the library is loaded, across later constructions.
void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
  if (!info || param_index < 0 ||
      static_cast<size_t>(param_index) >= frei0r::param_table.size())
    return;
  const frei0r::param_entry& entry = frei0r::param_table[param_index];
  info->name = entry.name->c_str();
  info->type = entry.type;
  info->explanation = entry.description->c_str();
}

// Returns null, with the parameter table exactly as it was, when the object
// cannot be built or is not valid for this size. Must not overlap any other
// call into the library.
f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  std::vector<frei0r::param_entry> saved = std::move(frei0r::param_table);
  frei0r::param_table.clear();
  frei0r::fx* object =
      frei0r::build_effect ? frei0r::build_effect(width, height) : nullptr;
  if (!object) {
    frei0r::param_table = std::move(saved);
    return nullptr;
  }
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
void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param,
                         int param_index) {
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
void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param,
                         int param_index) {
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
      *static_cast<const char**>(param) =
          static_cast<const std::string*>(member)->c_str();
      break;
    default:
      break;
  }
}

// The instance and frames are the host's duty: no tests here.
void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe,
                uint32_t* outframe) {
  try {
    static_cast<frei0r::fx*>(instance)->update(time, outframe, inframe,
                                               nullptr, nullptr);
  } catch (...) {
  }
}

void f0r_update2(f0r_instance_t instance, double time,
                 const uint32_t* inframe1, const uint32_t* inframe2,
                 const uint32_t* inframe3, uint32_t* outframe) {
  try {
    static_cast<frei0r::fx*>(instance)->update(time, outframe, inframe1,
                                               inframe2, inframe3);
  } catch (...) {
  }
}

}  // extern "C"
