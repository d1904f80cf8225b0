// A table of counted objects addressed by small opaque values, for kernel
// handles and window handles (internal). A stale or made-up value never
// reaches an object: each slot carries a generation that is part of the value.
#pragma once

#include "platform/posix/KernelObjects.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>

namespace zelto::platform::detail {

template <class T>
class SlotTable {
 public:
  // Values fit in 31 bits, like Windows handles: bits 2..19 hold the slot
  // number + 1, bits 20..30 the slot's generation.
  static constexpr std::uint32_t kMaxSlots = (1u << 18) - 1;

  // Takes over one reference; returns 0 when the table is full.
  std::uintptr_t Insert(T* object) {
    std::uint32_t index;
    {
      std::lock_guard<std::mutex> guard(freeLock_);
      // Fresh slots first while few are free, so a value is not soon reused.
      if (!free_.empty() && (free_.size() > kReuseAfter || next_ == kMaxSlots)) {
        index = free_.front();
        free_.pop_front();
      } else if (next_ < kMaxSlots) {
        index = next_++;
        if (index % kChunk == 0) chunks_[index / kChunk].store(new Slot[kChunk], std::memory_order_release);
      } else {
        return 0;
      }
    }
    Slot& slot = SlotAt(index);
    std::lock_guard<std::mutex> guard(slot.lock);
    slot.object = object;
    return Encode(index, slot.generation);
  }

  Ref<T> Lookup(std::uintptr_t value) {
    Slot* slot = Find(value);
    if (!slot) return {};
    std::lock_guard<std::mutex> guard(slot->lock);
    if (!slot->object || slot->generation != Generation(value)) return {};
    slot->object->AddRef();
    return Ref<T>::Adopt(slot->object);
  }

  // Empties the slot; the caller receives the table's reference.
  Ref<T> Remove(std::uintptr_t value) {
    Slot* slot = Find(value);
    if (!slot) return {};
    T* object;
    {
      std::lock_guard<std::mutex> guard(slot->lock);
      if (!slot->object || slot->generation != Generation(value)) return {};
      object = slot->object;
      slot->object = nullptr;
      // Generation 0 is never used, so small made-up values are never valid.
      slot->generation = (slot->generation + 1) & kGenerationMask;
      if (slot->generation == 0) slot->generation = 1;
    }
    std::lock_guard<std::mutex> guard(freeLock_);
    free_.push_back(Index(value));
    return Ref<T>::Adopt(object);
  }

 private:
  static constexpr std::uint32_t kChunk = 1024;
  static constexpr std::size_t kReuseAfter = 1024;
  static constexpr std::uint32_t kGenerationMask = 0x7FF;

  struct Slot {
    std::mutex lock;
    std::uint32_t generation = 1;
    T* object = nullptr;
  };

  static std::uintptr_t Encode(std::uint32_t index, std::uint32_t generation) {
    return (static_cast<std::uintptr_t>(generation) << 20) | (static_cast<std::uintptr_t>(index + 1) << 2);
  }
  static std::uint32_t Index(std::uintptr_t value) { return static_cast<std::uint32_t>((value >> 2) & 0x3FFFF) - 1; }
  static std::uint32_t Generation(std::uintptr_t value) { return static_cast<std::uint32_t>(value >> 20); }

  Slot& SlotAt(std::uint32_t index) {
    return chunks_[index / kChunk].load(std::memory_order_acquire)[index % kChunk];
  }

  Slot* Find(std::uintptr_t value) {
    if (value == 0 || (value & 3) != 0 || (value >> 31) != 0 || ((value >> 2) & 0x3FFFF) == 0) return nullptr;
    std::uint32_t index = Index(value);
    Slot* chunk = chunks_[index / kChunk].load(std::memory_order_acquire);
    return chunk ? &chunk[index % kChunk] : nullptr;
  }

  std::atomic<Slot*> chunks_[kMaxSlots / kChunk + 1] = {};
  std::mutex freeLock_;
  std::deque<std::uint32_t> free_;
  std::uint32_t next_ = 0;
};

}  // namespace zelto::platform::detail
