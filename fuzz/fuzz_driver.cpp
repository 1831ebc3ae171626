#include "fuzz_driver.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "plugin_host.h"

namespace fuzzing {

namespace {

using testhost::frame;

class reader {
 public:
  reader(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  bool empty() const { return n_ == 0; }
  uint8_t u8() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | u8();
    return v;
  }
  uint64_t u64() { return uint64_t(u32()) << 32 | u32(); }
  double raw_double() {
    const uint64_t bits = u64();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  // Mostly the values that break things, sometimes any bit pattern.
  double value() {
    switch (u8() % 12) {
      case 0:
        return std::numeric_limits<double>::quiet_NaN();
      case 1:
        return std::numeric_limits<double>::infinity();
      case 2:
        return -std::numeric_limits<double>::infinity();
      case 3:
        return -1e300;
      case 4:
        return 1e300;
      case 5:
        return -0.0;
      case 6:
        return 0.5;
      case 7:
        return 1.0;
      case 8:
        return double(u8()) / 255.0;
      case 9:
        return double(int8_t(u8())) / 16.0;
      default:
        return raw_double();
    }
  }

 private:
  const uint8_t* p_;
  size_t n_;
};

void check(bool ok) {
  if (!ok) __builtin_trap();
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void fill(frame& f, reader& r) {
  switch (r.u8() % 4) {
    case 0: {
      const uint32_t v = r.u32();
      for (uint32_t& p : f) p = v;
      break;
    }
    case 1:
      f = testhost::random_frame(f.size(), r.u32());
      break;
    case 2:
      for (uint32_t& p : f) p = r.empty() ? p : r.u32();
      break;
    default:  // a small change to what was there
      f[r.u32() % f.size()] ^= r.u32();
      break;
  }
}

double next_time(double t, reader& r) {
  switch (r.u8() % 8) {
    case 0:
      return t;  // repeat
    case 1:
      return t - double(r.u8()) * 0.04;  // back
    case 2:
      return std::numeric_limits<double>::quiet_NaN();
    case 3:
      return r.raw_double();
    case 4:
      return t + double(r.u8()) * 0.5;  // jump ahead
    default:
      return t + 0.04;
  }
}

const testhost::plugin& load(const char* name) {
  static std::map<std::string, std::unique_ptr<testhost::plugin>> loaded;
  auto& p = loaded[name];
  if (!p) p = std::make_unique<testhost::plugin>(testhost::plugin_path(name));
  return *p;
}

}  // namespace

int run_plugin(const char* name, const uint8_t* data, size_t size) {
  const testhost::plugin& p = load(name);
  reader r(data, size);
  const unsigned w = 1 + r.u8() % 64, h = 1 + r.u8() % 64;
  testhost::instance a = p.construct(w, h);
  testhost::instance b = p.construct(w, h);
  check(a.valid() && b.valid());
  const int params = p.info().num_params;
  const auto update2 = p.f0r().update2;

  // Every frame is allocated once per input: under the sanitizers an
  // allocation costs more than a small frame's update.
  frame in(a.pixel_count(), 0), in2(a.pixel_count(), 0), in3(a.pixel_count(), ~0u);
  frame out(a.pixel_count()), copy(a.pixel_count()), shared(a.pixel_count());
  double time = 0.0;
  for (int op = 0; op < 48 && !r.empty(); ++op) {
    switch (r.u8() % 9) {
      case 0:
      case 1: {
        const int index = int(r.u8() % (params + 3)) - 1;
        const double v = r.value();
        a.set(index, v);
        b.set(index, v);
        break;
      }
      case 2: {
        const int index = int(r.u8() % (params + 3)) - 1;
        check(same_bits(a.get(index), b.get(index)));
        break;
      }
      case 3: {
        // What a careless host passes: null instances and frames are
        // ignored, the output stays as it was.
        copy = out;
        const auto update = p.f0r().update;
        update(nullptr, time, in.data(), out.data());
        update(a.handle(), time, nullptr, out.data());
        update(a.handle(), time, in.data(), nullptr);
        if (update2) update2(a.handle(), time, nullptr, in2.data(), in3.data(), out.data());
        check(out == copy);
        break;
      }
      case 7:
        if (update2) {
          // The second and third inputs differ from the first and from each
          // other; a filter must ignore them.
          fill(in2, r);
          fill(in3, r);
          time = next_time(time, r);
          copy = in;
          update2(a.handle(), time, in.data(), in2.data(), in3.data(), out.data());
          shared = in;
          b.update_in_place(time, shared);
          check(shared == out && in == copy);
          break;
        }
        [[fallthrough]];
      default: {
        fill(in, r);
        time = next_time(time, r);
        copy = in;
        a.update(time, in.data(), out.data());
        shared = in;
        b.update_in_place(time, shared);
        check(shared == out && in == copy);
        break;
      }
    }
  }
  return 0;
}

}  // namespace fuzzing
