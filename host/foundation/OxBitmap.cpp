#include "host/foundation/OxBitmap.h"

#include <utility>

namespace Orvex {

OxBitmap::OxBitmap() = default;
OxBitmap::OxBitmap(const OxBitmap& other) = default;
OxBitmap::OxBitmap(OxBitmap&& other) noexcept : bytes(std::move(other.bytes)) {}
OxBitmap::OxBitmap(std::uint32_t size) : bytes(size, 0) {}
OxBitmap::~OxBitmap() = default;

OxBitmap& OxBitmap::operator=(const OxBitmap& other) = default;
OxBitmap& OxBitmap::operator=(OxBitmap&& other) noexcept {
  bytes = std::move(other.bytes);
  return *this;
}

void OxBitmap::SetBitmapSize(std::uint32_t size) {
  if (size == 0) {
    std::vector<std::uint8_t>().swap(bytes);
    return;
  }
  bytes.resize(size, 0);
}

bool OxBitmap::SetBitmap(const void* source, std::uint32_t size) {
  if (size == 0) {
    std::vector<std::uint8_t>().swap(bytes);
    return true;
  }
  if (!source) return false;
  const auto* first = static_cast<const std::uint8_t*>(source);
  bytes.assign(first, first + size);
  return true;
}

std::uint32_t OxBitmap::GetBitmapSize() const { return static_cast<std::uint32_t>(bytes.size()); }

const std::uint8_t* OxBitmap::GetBitmap() const { return bytes.empty() ? nullptr : bytes.data(); }

std::uint8_t* OxBitmap::GetBitmapBuffer() { return bytes.empty() ? nullptr : bytes.data(); }

}  // namespace Orvex
