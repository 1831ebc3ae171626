#include "kestrune_history.h"

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace {

// A byte count that does not fit the address space asks for the most there
// is, so that the request fails.
size_t block_bytes(uint64_t count, uint64_t each) {
  if (each != 0 && count > UINT64_MAX / each) return SIZE_MAX;
  const uint64_t bytes = count * each;
  return bytes > SIZE_MAX ? SIZE_MAX : size_t(bytes);
}

#ifdef _WIN32
void* reserve_block(size_t bytes) {
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_READWRITE);
}

void release_block(void* block) {
  if (block) VirtualFree(block, 0, MEM_RELEASE);
}

// Commits the pages that bytes [offset, offset + bytes) of a reserved block
// touch; pages committed before stay as they are.
bool commit_range(void* block, uint64_t offset, uint64_t bytes) {
  return VirtualAlloc(static_cast<char*>(block) + offset, size_t(bytes), MEM_COMMIT,
                      PAGE_READWRITE) != nullptr;
}
#else
void* reserve_block(size_t bytes) { return std::malloc(bytes); }

void release_block(void* block) { std::free(block); }
#endif

}  // namespace

kestrune_history::~kestrune_history() {
  release_block(pixels_);
  pixels_ = nullptr;
  release_block(records_);
  records_ = nullptr;
}

bool kestrune_history::reserve(uint64_t slots, uint64_t pixel_bytes, uint64_t record_bytes) {
  pixel_bytes_ = pixel_bytes;
  record_bytes_ = record_bytes;
  pixels_ = reserve_block(block_bytes(slots, pixel_bytes));
  if (!pixels_) return false;
  records_ = reserve_block(block_bytes(slots, record_bytes));
  return records_ != nullptr;
}

bool kestrune_history::commit(uint64_t slot) {
#ifdef _WIN32
  return commit_range(pixels_, slot * pixel_bytes_, pixel_bytes_) &&
         commit_range(records_, slot * record_bytes_, record_bytes_);
#else
  (void)slot;
  return true;
#endif
}

