// First slit of the band a capture takes.
#pragma once

#include <cmath>
#include <cstdint>

// The band of `count` slits (1 <= count <= extent) centred on
// position × extent, moved inside 0 … extent − 1: start is
// floor(extent × position − count × 0.5 + 0.5), at least 0 and at most
// extent − count. The comparisons are made on the double itself, not on a
// 32-bit conversion of it, so a frame more than 2^31 slits across gets a
// band inside the frame instead of an overflowing conversion; below that
// the result is the same as converting first.
inline uint32_t bramquil_band_start(uint32_t extent, uint32_t count, double position) {
  const double start = std::floor(double(extent) * position - double(count) * 0.5 + 0.5);
  const uint32_t last = extent - count;
  if (!(start > 0.0)) return 0;
  if (start >= double(last)) return last;
  return uint32_t(start);
}
