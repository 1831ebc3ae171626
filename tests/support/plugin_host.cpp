#include "plugin_host.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif
#ifdef EFFECTS_MACHO
#include "macho_loader.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace testhost {

namespace {

#ifdef _WIN32
// Windows: LoadLibrary and GetProcAddress, as the Windows builds of the hosts
// load a plug-in DLL.
load_hook on_load = nullptr;

void* open_library(const std::string& path) {
  std::string native = path;
  for (char& c : native)
    if (c == '/') c = '\\';
  void* handle = LoadLibraryA(native.c_str());
  if (!handle)
    throw std::runtime_error("LoadLibrary " + path + ": error " + std::to_string(GetLastError()));
  if (on_load) on_load(handle);
  return handle;
}

void* find_symbol(void* handle, const char* name) {
  FARPROC f = GetProcAddress(static_cast<HMODULE>(handle), name);
  void* s;
  static_assert(sizeof f == sizeof s, "function and object pointers differ");
  std::memcpy(&s, &f, sizeof s);
  return s;
}

void close_library(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

std::string temporary_file_name() {
  char dir[MAX_PATH + 1];
  char name[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof dir, dir);
  if (n == 0 || n > MAX_PATH || !GetTempFileNameA(dir, "eff", 0, name))
    throw std::runtime_error("no temporary file name");
  return name;  // LoadLibrary takes any extension
}
#else
#ifdef EFFECTS_MACHO
// The macOS build's plug-ins, through the Mach-O loader.
void* open_library(const std::string& path) {
  void* handle = macho_dlopen(path.c_str());
  if (!handle) {
    const char* why = macho_dlerror();
    throw std::runtime_error("macho_dlopen " + path + ": " + (why ? why : "?"));
  }
  return handle;
}

void* find_symbol(void* handle, const char* name) { return macho_dlsym(handle, name); }

void close_library(void* handle) { macho_dlclose(handle); }
#else
void* open_library(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    throw std::runtime_error("dlopen " + path + ": " + (why ? why : "?"));
  }
  return handle;
}

void* find_symbol(void* handle, const char* name) { return dlsym(handle, name); }

void close_library(void* handle) { dlclose(handle); }
#endif

std::string temporary_file_name() {
  char name[] = "/tmp/effects-plugin-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  close(fd);
  return name;
}
#endif

template <typename F>
F symbol(void* handle, const char* name, bool required) {
  void* s = find_symbol(handle, name);
  if (!s && required) throw std::runtime_error(std::string("missing entry point ") + name);
  F f;
  static_assert(sizeof f == sizeof s, "function and object pointers differ");
  std::memcpy(&f, &s, sizeof f);
  return f;
}

}  // namespace

std::string plugin_name(const std::string& path) {
  std::string name = path.substr(path.find_last_of("/\\") + 1);
  const size_t suffix = sizeof library_suffix - 1;
  if (name.size() > suffix && name.compare(name.size() - suffix, suffix, library_suffix) == 0)
    name.resize(name.size() - suffix);
  return name;
}

#ifdef _WIN32
void set_load_hook(load_hook hook) { on_load = hook; }
#endif

plugin::plugin(const std::string& path) { load(path); }

void plugin::load(const std::string& path) {
  path_ = path;
  handle_ = open_library(path);
  f0r_.init = symbol<decltype(f0r_.init)>(handle_, "f0r_init", true);
  f0r_.deinit = symbol<decltype(f0r_.deinit)>(handle_, "f0r_deinit", true);
  f0r_.get_plugin_info =
      symbol<decltype(f0r_.get_plugin_info)>(handle_, "f0r_get_plugin_info", true);
  f0r_.get_param_info = symbol<decltype(f0r_.get_param_info)>(handle_, "f0r_get_param_info", true);
  f0r_.construct = symbol<decltype(f0r_.construct)>(handle_, "f0r_construct", true);
  f0r_.destruct = symbol<decltype(f0r_.destruct)>(handle_, "f0r_destruct", true);
  f0r_.set_param_value =
      symbol<decltype(f0r_.set_param_value)>(handle_, "f0r_set_param_value", true);
  f0r_.get_param_value =
      symbol<decltype(f0r_.get_param_value)>(handle_, "f0r_get_param_value", true);
  f0r_.update = symbol<decltype(f0r_.update)>(handle_, "f0r_update", true);
  f0r_.update2 = symbol<decltype(f0r_.update2)>(handle_, "f0r_update2", false);
}

plugin plugin::fresh_copy(const std::string& path) {
  const std::string name = temporary_file_name();
  try {
    {
      std::ifstream src(path, std::ios::binary);
      std::ofstream dst(name, std::ios::binary | std::ios::trunc);
      dst << src.rdbuf();
      if (!src || !dst) throw std::runtime_error("cannot copy " + path);
    }
    plugin p;
    p.load(name);
    p.temp_copy_ = name;
    return p;
  } catch (...) {
    // Nothing of the copy is left behind when the copy or the load fails.
    std::remove(name.c_str());
    throw;
  }
}

plugin::plugin(plugin&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      path_(std::move(other.path_)),
      temp_copy_(std::move(other.temp_copy_)),
      f0r_(other.f0r_) {
  other.temp_copy_.clear();
}

plugin::~plugin() {
  if (handle_) close_library(handle_);
  if (!temp_copy_.empty()) std::remove(temp_copy_.c_str());
}

f0r_plugin_info_t plugin::info() const {
  f0r_plugin_info_t info{};
  f0r_.get_plugin_info(&info);
  return info;
}

f0r_param_info_t plugin::param_info(int index) const {
  f0r_param_info_t info{};
  f0r_.get_param_info(&info, index);
  return info;
}

std::vector<std::string> plugin::param_names() const {
  std::vector<std::string> names;
  const int n = info().num_params;
  for (int i = 0; i < n; ++i) {
    const f0r_param_info_t pi = param_info(i);
    names.emplace_back(pi.name ? pi.name : "");
  }
  return names;
}

int plugin::param_index(const std::string& name) const {
  const std::vector<std::string> names = param_names();
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return int(i);
  return -1;
}

instance plugin::construct(unsigned width, unsigned height) const {
  return instance(&f0r_, f0r_.construct(width, height), width, height);
}

instance::instance(const entry_points* f0r, f0r_instance_t handle, unsigned width, unsigned height)
    : f0r_(f0r), handle_(handle), width_(width), height_(height) {}

instance::~instance() { reset(); }

void instance::reset() {
  if (handle_) f0r_->destruct(handle_);
  handle_ = nullptr;
}

instance::instance(instance&& other) noexcept
    : f0r_(other.f0r_),
      handle_(std::exchange(other.handle_, nullptr)),
      width_(other.width_),
      height_(other.height_) {}

instance& instance::operator=(instance&& other) noexcept {
  if (this != &other) {
    reset();
    f0r_ = other.f0r_;
    handle_ = std::exchange(other.handle_, nullptr);
    width_ = other.width_;
    height_ = other.height_;
  }
  return *this;
}

void instance::set(int index, double value) { f0r_->set_param_value(handle_, &value, index); }

double instance::get(int index) const {
  double value = 0.0;
  f0r_->get_param_value(handle_, &value, index);
  return value;
}

frame instance::update(double time, const frame& in) {
  if (in.size() != pixel_count()) throw std::invalid_argument("frame of the wrong size");
  frame out(pixel_count());
  f0r_->update(handle_, time, in.data(), out.data());
  return out;
}

void instance::update(double time, const uint32_t* in, uint32_t* out) {
  f0r_->update(handle_, time, in, out);
}

void instance::update_in_place(double time, frame& inout) {
  if (inout.size() != pixel_count()) throw std::invalid_argument("frame of the wrong size");
  f0r_->update(handle_, time, inout.data(), inout.data());
}

std::vector<std::string> all_plugin_paths() {
  std::vector<std::string> paths;
  const std::string joined = EFFECTS_PLUGIN_FILES;
  size_t start = 0;
  while (start <= joined.size()) {
    const size_t end = joined.find('|', start);
    const std::string item =
        joined.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!item.empty()) paths.push_back(item);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return paths;
}

std::string plugin_path(const std::string& name) {
  for (const std::string& p : all_plugin_paths())
    if (plugin_name(p) == name) return p;
  throw std::runtime_error("plug-in " + name + " was not built");
}

std::vector<variant> plugin_variants(const std::string& name) {
  std::vector<variant> found;
  const std::string file = plugin_name(plugin_path(name)) + library_suffix;
  const std::string joined = EFFECTS_VARIANT_NAMES;
  size_t start = 0;
  while (start < joined.size()) {
    size_t end = joined.find('|', start);
    if (end == std::string::npos) end = joined.size();
    const std::string variant_name = joined.substr(start, end - start);
    found.push_back(
        {variant_name, std::string(EFFECTS_VARIANT_DIR) + "/" + variant_name + "/" + file});
    start = end + 1;
  }
  return found;
}

frame random_frame(size_t pixels, uint64_t seed) {
  frame f(pixels);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull;
  for (uint32_t& p : f) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    p = uint32_t(x >> 16);
  }
  return f;
}

}  // namespace testhost
