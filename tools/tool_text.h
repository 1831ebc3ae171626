// Small text helpers shared by the documentation generators in tools/.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "plugin_host.h"

namespace tooltext {

inline std::string read_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The shortest text that reads back as exactly this double; whole numbers
// without an exponent ("1440", not "1.44e+03").
inline std::string shortest(double v) {
  char buf[64];
  if (v == static_cast<double>(static_cast<long long>(v)) && v > -1e15 && v < 1e15) {
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
  }
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  return buf;
}

// "build/plugins/Orrelind.so" (or ".dll") -> "Orrelind"
inline std::string file_name(const std::string& path) { return testhost::plugin_name(path); }

}  // namespace tooltext
