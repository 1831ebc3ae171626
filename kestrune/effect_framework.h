// A small effect-object framework for frei0r plug-ins.
//
// An effect is a class derived from frei0r::filter. Its constructor takes the
// frame width and height, registers the members that hold its parameter
// values with add_param() (the order of the calls numbers the parameters),
// and does whatever sizing it needs; is_valid() tells whether that sizing
// succeeded. Its update() receives the time in seconds and the frames.
//
// The plug-in source defines one
//
//   frei0r::registration<effect> registered(name, explanation, author,
//                                            major, minor, color_model);
//
// at namespace scope and links effect_framework.cpp, which defines the f0r_*
// entry points. The registration fills the process-wide description and
// parameter table once, while the library loads; after that nothing shared
// is ever written, so every entry point may be called from any thread as the
// API allows (info and construction concurrently with anything, calls on one
// instance by one caller at a time). No exception ever leaves an entry point.
#pragma once

// The API header declares the entry points without C linkage guards; its
// declarations also carry the one visibility that leaves this library.
extern "C" {
#pragma GCC visibility push(default)
#include <frei0r.h>
#pragma GCC visibility pop
}

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace frei0r {

class fx;

// One registered parameter. The texts are the effect's own string constants,
// so they stay valid, unchanged, for as long as the library is loaded.
struct param_entry {
  const char* name;
  const char* description;
  int32_t type;
};

// More parameters than any effect of ours has; the table is a fixed array so
// that filling it at load time cannot run out of memory.
constexpr size_t max_params = 64;

// Process-wide registration data (effect_framework.cpp). All of it is
// constant-initialised, so it is in place before any static constructor of
// the plug-in runs; the registration writes it while the library loads and
// it is only read afterwards.
extern const char* plugin_name;
extern const char* plugin_author;
extern const char* plugin_explanation;
extern int plugin_major_version;
extern int plugin_minor_version;
extern int plugin_color_model;
extern param_entry param_table[max_params];
extern size_t param_count;
// True only while the registration builds its throw-away effect object: the
// one construction that writes param_table.
extern bool registering;
// Builds one effect object for f0r_construct; set by the registration.
extern fx* (*build_effect)(unsigned int width, unsigned int height);

// Base of every effect. Not copyable: the parameter pointers designate the
// object's own members.
class fx {
 public:
  virtual unsigned int plugin_kind() const = 0;
  virtual bool is_valid() const { return true; }
  // The update both update entry points call: in2 and in3 are null for
  // f0r_update. The entry points have already refused null frames.
  virtual void update(double time, uint32_t* out, const uint32_t* in1, const uint32_t* in2,
                      const uint32_t* in3) = 0;
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
  // One allocation for all the parameter pointers (std::bad_alloc when there
  // is no memory); the load-time object keeps none.
  fx() {
    if (!registering) param_value_ptrs.reserve(param_count);
  }

  // Registration, in parameter order. The texts must live as long as the
  // library (string constants): the table keeps the pointers. Throws
  // std::bad_alloc when memory runs out.
  void add_param(double& member, const char* name, const char* description) {
    register_param(&member, name, description, F0R_PARAM_DOUBLE);
  }
  void add_param(bool& member, const char* name, const char* description) {
    register_param(&member, name, description, F0R_PARAM_BOOL);
  }
  void add_param(f0r_param_color_t& member, const char* name, const char* description) {
    register_param(&member, name, description, F0R_PARAM_COLOR);
  }
  void add_param(f0r_param_position_t& member, const char* name, const char* description) {
    register_param(&member, name, description, F0R_PARAM_POSITION);
  }
  void add_param(std::string& member, const char* name, const char* description) {
    register_param(&member, name, description, F0R_PARAM_STRING);
  }

 private:
  // At load the entry goes into the table; afterwards the object only keeps
  // the member's address. set and get take the type from the table, so an
  // effect that registered another type at this index would have its member
  // overwritten with the wrong record: such an object is refused.
  void register_param(void* member, const char* name, const char* description, int32_t type) {
    if (registering) {
      if (param_count == max_params) throw std::length_error("too many parameters");
      param_table[param_count++] = param_entry{name, description, type};
      return;
    }
    const size_t index = param_value_ptrs.size();
    if (index < param_count && param_table[index].type != type)
      throw std::logic_error("parameters differ from the registered ones");
    param_value_ptrs.push_back(member);
  }
};

// One input frame in, one out. The three-input update passes the first
// input on and ignores the others.
class filter : public fx {
 public:
  unsigned int plugin_kind() const override { return F0R_PLUGIN_TYPE_FILTER; }
  void update(double time, uint32_t* out, const uint32_t* in1, const uint32_t* /*in2*/,
              const uint32_t* /*in3*/) override {
    update(time, out, in1);
  }
  virtual void update(double time, uint32_t* out, const uint32_t* in) = 0;
};

// Builds one effect object for f0r_construct: the object, or null with
// nothing left allocated.
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

// Load-time registration: records the description and fills the parameter
// table by constructing a throw-away effect object of size 0 x 0, which
// registers its parameters and allocates nothing. Nothing escapes it: an
// effect whose zero-size construction throws keeps the parameters registered
// up to then, rather than terminating the host.
template <class effect>
class registration {
 public:
  registration(const char* name, const char* explanation, const char* author, int major_version,
               int minor_version, int color_model) {
    plugin_name = name;
    plugin_explanation = explanation;
    plugin_author = author;
    plugin_major_version = major_version;
    plugin_minor_version = minor_version;
    plugin_color_model = color_model;
    registering = true;
    try {
      const effect probe(0, 0);
    } catch (...) {
    }
    registering = false;
    build_effect = &build<effect>;
  }
  registration(const registration&) = delete;
  registration& operator=(const registration&) = delete;
};

}  // namespace frei0r
