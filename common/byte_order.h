// Bytes of a pixel, whatever the machine's byte order. Byte k is the k-th
// byte in memory (0 R, 1 G, 2 B, 3 A in RGBA; B, G, R, A in BGRA).
#pragma once

#include <cstdint>

namespace effects {

// The shift that brings byte k of a pixel loaded as a 32-bit word to the
// bottom.
constexpr unsigned byte_shift(int k) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return 24u - 8u * unsigned(k);
#else
  return 8u * unsigned(k);
#endif
}

constexpr uint32_t byte_mask(int k) { return uint32_t(0xFF) << byte_shift(k); }

// A pixel loaded as a 32-bit word, as the word with byte k at bits 8k (and
// back: the conversion is its own inverse).
constexpr uint32_t pixel_word(uint32_t x) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return __builtin_bswap32(x);
#else
  return x;
#endif
}

}  // namespace effects
