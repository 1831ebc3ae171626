// kestrune described plainly, for comparison with the plug-in: a history of
// whole frames in a deque and the compositing pixel by pixel, written from
// the description of the effect rather than from the plug-in's code.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string>
#include <utility>

#include "plugin_host.h"

namespace kestrune_test {

using testhost::byte_of;
using testhost::frame;
using testhost::pixel;

enum { TIME_OFFSET, MODE, BLEND, CONTRAST, THRESHOLD, MONOCHROME, PARAM_COUNT };

// Capacity in frames for a frame of this many pixels (1 GiB, 24 bytes of
// bookkeeping a frame).
inline uint64_t capacity_for(uint64_t pixels) { return (uint64_t(1) << 30) / (4 * pixels + 24); }

struct model {
  explicit model(size_t pixel_count) : pixels(pixel_count), capacity(capacity_for(pixel_count)) {}

  void set(int index, double x) {
    switch (index) {
      case TIME_OFFSET:
        time_offset = x;
        break;
      case MODE:
        mode = x;
        break;
      case BLEND:
        blend = x;
        break;
      case CONTRAST:
        contrast = x;
        break;
      case THRESHOLD:
        threshold = x;
        break;
      case MONOCHROME:
        monochrome = x > 0.5;
        break;
    }
  }

  frame update(double now, const frame& in) {
    while (!held.empty() && held.back().first >= now) held.pop_back();
    const double cutoff = now - 2.0 * limit(time_offset);
    while (held.size() >= 2 && held[1].first <= cutoff) held.pop_front();
    if (held.size() == capacity) held.pop_front();
    held.emplace_back(now, in);
    const frame& ref = held.front().second;
    frame out(pixels);
    for (size_t i = 0; i < pixels; ++i) out[i] = composite(in[i], ref[i]);
    return out;
  }

  // 0..1; NaN passes for the delay, counts as 0 where a number is needed.
  static double limit(double x) { return x < 0 ? 0 : x > 1 ? 1 : x; }
  static double number(double x) { return std::isnan(x) ? 0 : limit(x); }

  static int luma(uint32_t p) {
    return (299 * byte_of(p, 0) + 587 * byte_of(p, 1) + 114 * byte_of(p, 2) + 500) / 1000;
  }
  static uint8_t to_byte(double x) {
    if (x <= 0) return 0;
    if (x >= 255) return 255;
    return uint8_t(x + 0.5);
  }

  uint32_t composite(uint32_t cur, uint32_t ref) const {
    const double gain = std::exp2(4 * number(contrast));
    const double opacity = number(blend);
    const int level = int(number(threshold) * 255 + 0.5);
    int v[3], d[3];
    for (int k = 0; k < 3; ++k) {
      v[k] = monochrome ? luma(cur) : byte_of(cur, k);
      d[k] = v[k] - (monochrome ? luma(ref) : byte_of(ref, k));
    }
    int m = std::max(std::abs(d[0]), std::max(std::abs(d[1]), std::abs(d[2])));
    if (m < level) d[0] = d[1] = d[2] = m = 0;
    uint8_t o[4];
    o[3] = byte_of(cur, 3);
    for (int k = 0; k < 3; ++k) {
      if (mode < 1.0 / 3)
        o[k] = to_byte(v[k] * (1 - opacity) + (d[k] * gain + (255 - v[k])) * opacity);
      else if (mode < 2.0 / 3)
        o[k] = to_byte(std::abs(d[k]) * gain);
      else
        o[k] = uint8_t(v[k]);
    }
    if (!(mode < 2.0 / 3)) o[3] = to_byte((byte_of(cur, 3) * (m * gain)) / 255);
    return pixel(o[0], o[1], o[2], o[3]);
  }

  size_t pixels;
  size_t capacity;
  double time_offset = 0.1, mode = 0, blend = 0.5, contrast = 0, threshold = 0;
  bool monochrome = false;
  std::deque<std::pair<double, frame>> held;
};

}  // namespace kestrune_test
