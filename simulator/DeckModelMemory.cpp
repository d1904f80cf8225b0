// The deck model's cassette memory: what the cassette's chip holds.
#include "simulator/DeckModel.h"

#include <utility>

#include "host/cassettedb/ICassetteMemory.h"
#include "simulator/DeckModelInternal.h"

namespace zelto::sim {

using detail::HasTape;

const Cassette* DeckModel::MemoryCassette() const {
  if (!cassette_ || !HasTape(mode_) || !cassette_->hasMemory) return nullptr;
  return &*cassette_;
}

HRESULT DeckModel::SetMemoryKey(std::uint32_t sequence, std::uint32_t index, std::uint32_t key) {
  if (!MemoryCassette()) return kErrorNotReady;
  if (sequence != memorySequence_) return CASSETTE_MEMORY_E_CHANGED;
  if (index >= cassette_->scenes.size()) return E_INVALIDARG;
  cassette_->scenes[index].memoryKey = key;
  return S_OK;
}

HRESULT DeckModel::SetMemoryText(std::string text) {
  if (!MemoryCassette()) return kErrorNotReady;
  if (cassette_->writeProtected) return kErrorWriteProtected;
  cassette_->text = std::move(text);
  ++memorySequence_;
  return S_OK;
}

}  // namespace zelto::sim
