// The same calls give the same bytes on every system we build for.
//
// Each plug-in runs a few fixed call sequences (sizes, parameter values, times,
// in place or not, all written below) over frames made byte by byte from a
// seed, and every output frame's 64-bit FNV-1a checksum is compared with the
// line kept for it in checksums.txt. CI runs this natively on x86-64, under
// qemu-aarch64 and under Wine, and on the macOS build's two slices through
// the Mach-O loader (natively and under qemu-aarch64), against the one file.
//
// Where a system's bytes are known to differ (its C library's mathematics
// rounds differently), checksums.txt holds that system's checksum on a line of
// its own, headed by the system's name; the file's comments say how often and
// why. Such lines are the only exceptions the test accepts.
//
// Regenerating, after a change that is meant to change output bytes:
//   EFFECTS_CHECKSUMS_WRITE=1 ctest -R '^checksums\.'     (natively first)
// then the same under Wine and qemu-aarch64 (scripts/test.sh windows,
// scripts/test.sh aarch64), which write only their own differing lines, and
// review `git diff tests/checksums/checksums.txt`.
// EFFECTS_CHECKSUMS_DUMP=DIR also writes every output frame to
// DIR/PLUGIN-SEQUENCE-FRAME.raw, so that two systems' frames can be compared
// pixel by pixel (compare_frames.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "plugin_host.h"

namespace {

using testhost::frame;
using testhost::instance;
using testhost::plugin;

// The system whose exceptions apply: its lines in checksums.txt carry this
// name first.
#if defined(EFFECTS_MACHO) && defined(__aarch64__)
const char system_name[] = "macos-arm64";
#elif defined(EFFECTS_MACHO)
const char system_name[] = "macos-x86_64";
#elif defined(_WIN32)
const char system_name[] = "windows";
#elif defined(__aarch64__)
const char system_name[] = "aarch64";
#elif defined(__s390x__)
const char system_name[] = "s390x";
#else
const char system_name[] = "";  // the reference: x86-64 Linux
#endif

// One call sequence: `frames` frames of width x height; before frame f every
// parameter takes values[f][i] (a row per frame; the last row holds on), and
// frame f is passed at times[f] (the last step continuing). Frames whose
// number is in `in_place` go through one buffer.
struct sequence {
  const char* plugin;
  const char* name;
  unsigned width, height;
  int frames;
  std::vector<std::vector<double>> values;
  std::vector<double> times;
  std::vector<int> in_place;
  bool opaque;  // every alpha byte 255
};

const std::vector<sequence>& sequences() {
  static const std::vector<sequence> all = {
      // vestrale: Delay, Simple
      {"vestrale", "smooth-delay-4", 67, 41, 12, {{0.2, 0.0}}, {0.0, 0.04}, {5}, true},
      {"vestrale", "simple-delay-2", 67, 41, 10, {{1.0 / 15, 1.0}}, {0.0, 0.04}, {}, false},
      {"vestrale",
       "delay-changes",
       64,
       48,
       12,
       {{0.5, 0.0}, {0.5, 0.0}, {0.5, 0.0}, {0.5, 0.0}, {0.5, 0.0}, {0.5, 0.0}, {0.1, 0.0}},
       {0.0, 0.04},
       {1, 3, 7},
       true},
      // kestrune: Time Offset, Mode, Blend, Contrast, Threshold, Monochrome
      {"kestrune",
       "overlay",
       67,
       41,
       12,
       {{0.05, 0.0, 0.5, 0.3, 0.05, 0.0}},
       {0.0, 0.04},
       {4},
       true},
      {"kestrune",
       "difference-luma",
       67,
       41,
       10,
       {{0.0, 0.5, 0.5, 0.37, 0.1, 1.0}},
       {0.0, 0.04},
       {},
       false},
      {"kestrune",
       "mask-seek-back",
       64,
       48,
       12,
       {{0.1, 1.0, 0.5, 0.61, 0.2, 0.0}},
       {0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.15, 0.25, 0.35, 0.45, 0.55, 0.65},
       {9},
       true},
      {"kestrune",
       "overlay-contrast-moves",
       67,
       41,
       10,
       {{0.02, 0.0, 0.8, 0.0, 0.0, 0.0},
        {0.02, 0.0, 0.8, 0.11, 0.0, 0.0},
        {0.02, 0.0, 0.8, 0.23, 0.0, 0.0},
        {0.02, 0.0, 0.8, 0.47, 0.0, 0.0},
        {0.02, 0.0, 0.8, 0.75, 0.0, 0.0},
        {0.02, 0.0, 0.8, 0.9, 0.0, 0.0},
        {0.02, 0.0, 0.8, 1.0, 0.0, 0.0}},
       {0.0, 0.04},
       {},
       true},
      // bramquil: Mode, Position, Vertical, Width, Reverse, Depth, Fade
      {"bramquil",
       "scan-columns",
       67,
       41,
       12,
       {{0.0, 0.5, 1.0, 0.05, 0.0, 0.25, 1.0}},
       {0.0, 0.04},
       {6},
       true},
      {"bramquil",
       "scan-rows-reversed",
       64,
       48,
       10,
       {{0.0, 0.3, 0.0, 0.3, 1.0, 0.25, 1.0}},
       {0.0, 0.04},
       {},
       false},
      {"bramquil",
       "stargate-outwards",
       67,
       41,
       12,
       {{1.0, 0.5, 1.0, 0.1, 0.0, 0.4, 0.7}},
       {0.0, 0.04},
       {3},
       true},
      {"bramquil",
       "stargate-inwards-rows",
       64,
       48,
       10,
       {{1.0, 0.6, 0.0, 0.2, 1.0, 0.9, 0.3}},
       {0.0, 0.04},
       {},
       false},
      // Orrelind: Whirl, Pinch, Radius, Center X, Center Y
      {"Orrelind", "whirl-360", 67, 41, 6, {{0.75, 0.5, 0.5, 0.5, 0.5}}, {0.0, 0.04}, {2}, true},
      {"Orrelind", "pinch", 64, 48, 6, {{0.5, 0.75, 0.6, 0.5, 0.5}}, {0.0, 0.04}, {}, true},
      {"Orrelind", "bulge", 67, 41, 6, {{0.5, 0.25, 0.7, 0.5, 0.5}}, {0.0, 0.04}, {}, false},
      {"Orrelind",
       "whirl-pinch-off-centre",
       67,
       41,
       6,
       {{0.3, 0.65, 0.8, 0.3, 0.6}},
       {0.0, 0.04},
       {4},
       false},
      {"Orrelind",
       "whirl-moves",
       64,
       48,
       6,
       {{0.55, 0.5, 0.9, 0.45, 0.55},
        {0.6, 0.5, 0.9, 0.45, 0.55},
        {0.7, 0.5, 0.9, 0.45, 0.55},
        {0.85, 0.5, 0.9, 0.45, 0.55},
        {1.0, 0.5, 0.9, 0.45, 0.55},
        {0.02, 0.55, 0.9, 0.45, 0.55}},
       {0.0, 0.04},
       {},
       true},
  };
  return all;
}

// Frame f of a sequence, byte by byte, so that it is the same on either
// byte order.
frame input_frame(const sequence& s, int f) {
  frame in(size_t(s.width) * s.height);
  uint64_t x = 0x9E3779B97F4A7C15ull * uint64_t(f + 1) ^ uint64_t(std::strlen(s.name)) << 32 ^
               uint64_t(s.name[0]) << 40;
  std::vector<uint8_t> bytes(in.size() * 4);
  for (size_t i = 0; i < bytes.size(); ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    bytes[i] = uint8_t(x >> 24);
    if (s.opaque && i % 4 == 3) bytes[i] = 255;
  }
  std::memcpy(in.data(), bytes.data(), bytes.size());
  return in;
}

uint64_t fnv1a(const frame& f) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(f.data());
  uint64_t h = 0xCBF29CE484222325ull;
  for (size_t i = 0; i < f.size() * 4; ++i) h = (h ^ bytes[i]) * 0x100000001B3ull;
  return h;
}

std::string key(const sequence& s, int f) {
  return std::string(s.plugin) + " " + s.name + " " + std::to_string(f);
}

std::string hex(uint64_t h) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, h);
  return text;
}

// Runs a sequence; every output frame's checksum, and its bytes into
// `dump_dir` when that is not empty.
std::vector<uint64_t> run(const sequence& s, const std::string& dump_dir) {
  plugin p(testhost::plugin_path(s.plugin));
  instance inst = p.construct(s.width, s.height);
  EXPECT_TRUE(inst.valid()) << s.name;
  std::vector<uint64_t> sums;
  for (int f = 0; f < s.frames; ++f) {
    const std::vector<double>& row = s.values[std::min<size_t>(f, s.values.size() - 1)];
    for (size_t i = 0; i < row.size(); ++i) inst.set(int(i), row[i]);
    const size_t n = s.times.size();
    const double step = s.times[n - 1] - s.times[n - 2];
    const double t = size_t(f) < n ? s.times[f] : s.times[n - 1] + step * double(f - int(n) + 1);
    frame out = input_frame(s, f);
    bool in_place = false;
    for (int k : s.in_place) in_place = in_place || k == f;
    if (in_place)
      inst.update_in_place(t, out);
    else
      out = inst.update(t, out);
    sums.push_back(fnv1a(out));
    if (!dump_dir.empty()) {
      std::ofstream raw(dump_dir + "/" + s.plugin + "-" + s.name + "-" + std::to_string(f) + ".raw",
                        std::ios::binary);
      raw.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size() * 4));
    }
  }
  return sums;
}

std::string checksums_path() {
  return std::string(EFFECTS_SOURCE_DIR) + "/tests/checksums/checksums.txt";
}

// The file: comment lines (#), blank lines, and lines
// [SYSTEM] PLUGIN SEQUENCE FRAME CHECKSUM.
struct expectations {
  std::vector<std::string> lines;  // the file as it is
  std::map<std::string, std::string> common, own;
};

expectations read_expectations() {
  expectations e;
  std::ifstream in(checksums_path());
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    e.lines.push_back(line);
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string w; fields >> w;) f.push_back(w);
    if (f.size() == 4) e.common[f[0] + " " + f[1] + " " + f[2]] = f[3];
    if (f.size() == 5 && f[0] == system_name) e.own[f[1] + " " + f[2] + " " + f[3]] = f[4];
  }
  return e;
}

// Writes the file anew: its comments, then the common lines, then each
// system's own lines. The reference system writes every common line; any
// other system writes its own lines, where it differs from the common one;
// every other line stays as it was.
void write_expectations(const expectations& old, const std::map<std::string, uint64_t>& got,
                        const std::vector<std::string>& order) {
  const bool reference = system_name[0] == '\0';
  std::vector<std::string> comments, common, systems;
  for (const std::string& line : old.lines) {
    if (line.empty() || line[0] == '#') {
      comments.push_back(line);
      continue;
    }
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string w; fields >> w;) f.push_back(w);
    if (f.size() == 4 && !reference) common.push_back(line);
    if (f.size() == 5 && f[0] != system_name) systems.push_back(line);
  }
  for (const std::string& k : order) {
    const std::string sum = hex(got.at(k));
    if (reference)
      common.push_back(k + " " + sum);
    else if (old.common.count(k) && old.common.at(k) != sum)
      systems.push_back(std::string(system_name) + " " + k + " " + sum);
  }
  std::stable_sort(systems.begin(), systems.end(), [](const std::string& a, const std::string& b) {
    return a.substr(0, a.find(' ')) < b.substr(0, b.find(' '));
  });
  std::ofstream out(checksums_path(), std::ios::binary | std::ios::trunc);
  for (const auto* part : {&comments, &common, &systems})
    for (const std::string& line : *part) out << line << "\n";
}

TEST(checksums, every_plugin_gives_the_recorded_bytes) {
  const char* dump = std::getenv("EFFECTS_CHECKSUMS_DUMP");
  const std::string dump_dir = dump ? dump : "";
  std::map<std::string, uint64_t> got;
  std::vector<std::string> order;
  for (const sequence& s : sequences()) {
    const std::vector<uint64_t> sums = run(s, dump_dir);
    for (int f = 0; f < int(sums.size()); ++f) {
      got[key(s, f)] = sums[size_t(f)];
      order.push_back(key(s, f));
    }
  }
  const expectations e = read_expectations();
  if (std::getenv("EFFECTS_CHECKSUMS_WRITE")) {
    write_expectations(e, got, order);
    GTEST_SKIP() << "wrote " << checksums_path();
  }
  int differing = 0;
  for (const std::string& k : order) {
    const auto own = e.own.find(k);
    const auto common = e.common.find(k);
    ASSERT_NE(common, e.common.end()) << "no checksum recorded for " << k;
    const std::string& expected = own != e.own.end() ? own->second : common->second;
    if (hex(got[k]) != expected) {
      ++differing;
      ADD_FAILURE() << k << ": " << hex(got[k]) << ", recorded " << expected;
    }
  }
  // An exception that no longer differs is stale: the file must say what holds.
  for (const auto& [k, sum] : e.own)
    EXPECT_TRUE(e.common.count(k) && e.common.at(k) != sum)
        << system_name << " " << k << " repeats or lacks the common checksum";
  EXPECT_EQ(differing, 0) << "of " << order.size() << " frames";
}

}  // namespace
