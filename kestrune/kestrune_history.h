// Memory for kestrune's frame history: one block holding every slot's pixels
// and one holding the slot records, both sized once, at construction, for the
// whole budget, and charged as memory only as slots come into use.
//
// On Linux and other ELF systems malloc hands out address space whose pages the system supplies
// when they are first written, so a slot costs nothing until a frame is stored in it and commit()
// has nothing to do. Windows charges every committed page against the system's commit limit at
// once, and its C runtime commits a large block in full: every instance, and every throw-away
// instance an editor makes while listing effects, would cost 1 GiB. There the store only reserves
// address space and commits a slot's pages when the slot is first taken, and that commit can be
// refused.
#pragma once

#include <cstdint>

class kestrune_history {
 public:
  kestrune_history() = default;
  ~kestrune_history();
  kestrune_history(const kestrune_history&) = delete;
  kestrune_history& operator=(const kestrune_history&) = delete;

  // Obtains room for `slots` slots of `pixel_bytes` and `record_bytes` each:
  // the pixel block first, the record block only if that was obtained. False
  // when either was refused.
  bool reserve(uint64_t slots, uint64_t pixel_bytes, uint64_t record_bytes);

  // Makes the pixels and the record of a slot never used before writable.
  // False when the memory was refused; the slot must not be used then.
  bool commit(uint64_t slot);

  void* pixels() const { return pixels_; }
  void* records() const { return records_; }

 private:
  void* pixels_ = nullptr;
  void* records_ = nullptr;
  uint64_t pixel_bytes_ = 0;
  uint64_t record_bytes_ = 0;
};
