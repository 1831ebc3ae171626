// A minimal frei0r host for tests.
//
// Loads a plug-in file with dlopen(RTLD_NOW | RTLD_LOCAL) (on Windows with
// LoadLibrary; in a build for the macOS plug-ins, EFFECTS_MACHO, with the
// Mach-O loader of macho_loader.h), exactly as a video program does, and reaches it only through
// its exported f0r_* entry points, so every test exercises the shipped shared
// library and nothing else.
#pragma once

extern "C" {
#include <frei0r.h>
}

#include <cstdint>
#include <string>
#include <vector>

namespace testhost {

using frame = std::vector<uint32_t>;

struct entry_points {
  int (*init)() = nullptr;
  void (*deinit)() = nullptr;
  void (*get_plugin_info)(f0r_plugin_info_t*) = nullptr;
  void (*get_param_info)(f0r_param_info_t*, int) = nullptr;
  f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
  void (*destruct)(f0r_instance_t) = nullptr;
  void (*set_param_value)(f0r_instance_t, f0r_param_t, int) = nullptr;
  void (*get_param_value)(f0r_instance_t, f0r_param_t, int) = nullptr;
  void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;
  // Optional: only some plug-ins export it.
  void (*update2)(f0r_instance_t, double, const uint32_t*, const uint32_t*, const uint32_t*,
                  uint32_t*) = nullptr;
};

class instance;

// One loaded plug-in library. Not copyable; dlclose on destruction.
class plugin {
 public:
  // Throws std::runtime_error when the file cannot be loaded or lacks a
  // mandatory entry point.
  explicit plugin(const std::string& path);
  ~plugin();
  plugin(const plugin&) = delete;
  plugin& operator=(const plugin&) = delete;

  // Loads a private copy of the file under a temporary name, so the library
  // starts from a freshly loaded state even if `path` is already loaded.
  static plugin fresh_copy(const std::string& path);
  plugin(plugin&& other) noexcept;

  const entry_points& f0r() const { return f0r_; }
  const std::string& path() const { return path_; }

  f0r_plugin_info_t info() const;
  f0r_param_info_t param_info(int index) const;
  // Every parameter name in index order.
  std::vector<std::string> param_names() const;
  // Index of the parameter with this exact name; -1 if there is none.
  int param_index(const std::string& name) const;

  // Returns an empty instance (valid() false) when f0r_construct gives null.
  instance construct(unsigned width, unsigned height) const;

 private:
  plugin() = default;
  void load(const std::string& path);

  void* handle_ = nullptr;
  std::string path_;
  std::string temp_copy_;
  entry_points f0r_;
};

// One constructed instance; f0r_destruct on destruction. Movable only.
class instance {
 public:
  instance() = default;
  instance(const entry_points* f0r, f0r_instance_t handle, unsigned width, unsigned height);
  ~instance();
  instance(instance&& other) noexcept;
  instance& operator=(instance&& other) noexcept;
  instance(const instance&) = delete;
  instance& operator=(const instance&) = delete;

  bool valid() const { return handle_ != nullptr; }
  f0r_instance_t handle() const { return handle_; }
  unsigned width() const { return width_; }
  unsigned height() const { return height_; }
  size_t pixel_count() const { return size_t(width_) * height_; }

  void set(int index, double value);
  double get(int index) const;
  // Separate buffers: returns the output frame.
  frame update(double time, const frame& in);
  void update(double time, const uint32_t* in, uint32_t* out);
  // One buffer as both input and output.
  void update_in_place(double time, frame& inout);

 private:
  void reset();

  const entry_points* f0r_ = nullptr;
  f0r_instance_t handle_ = nullptr;
  unsigned width_ = 0;
  unsigned height_ = 0;
};

#ifdef _WIN32
// Called with every library the host has just loaded (an HMODULE), before
// any entry point is looked up; the allocation-failure switch uses it to
// route the library's imports of the C runtime's allocator through itself.
using load_hook = void (*)(void* module);
void set_load_hook(load_hook hook);
#endif

// The file name suffix of a loadable library here.
#ifdef _WIN32
constexpr char library_suffix[] = ".dll";
#else
constexpr char library_suffix[] = ".so";
#endif

// A plug-in's name: its file name without directory and suffix ("Orrelind").
std::string plugin_name(const std::string& path);

// Paths of every plug-in built in this tree, from the build system.
std::vector<std::string> all_plugin_paths();
// Path of the plug-in whose file name (without directory and ".so" or ".dll") is
// `name`, e.g. "vestrale"; throws if it was not built.
std::string plugin_path(const std::string& name);

// A test-only build of a plug-in held to a lower instruction-set level than
// the shipped one ("portable", "sse2", "avx2"): same sources, same bytes
// expected.
struct variant {
  std::string name;
  std::string path;
};
// Every variant of the plug-in `name` built in this tree, lowest level
// first; none where the processor has no vector code of ours.
std::vector<variant> plugin_variants(const std::string& name);

// Pixels in memory byte order R, G, B, A (or B, G, R, A for BGRA plug-ins).
inline uint32_t pixel(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  const uint8_t bytes[4] = {b0, b1, b2, b3};
  uint32_t p;
  __builtin_memcpy(&p, bytes, 4);
  return p;
}
inline uint8_t byte_of(uint32_t p, int k) {
  uint8_t bytes[4];
  __builtin_memcpy(bytes, &p, 4);
  return bytes[k];
}

// Deterministic pseudo-random frame (xorshift), all bytes uniform.
frame random_frame(size_t pixels, uint64_t seed);
// A frame of one pixel value.
inline frame solid_frame(size_t pixels, uint32_t value) { return frame(pixels, value); }

}  // namespace testhost
