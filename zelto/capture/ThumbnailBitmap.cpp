#include "zelto/capture/ThumbnailBitmap.h"

#include <cstring>

namespace zelto::capture {

namespace {

constexpr std::uint32_t kInfoHeader = 40;
constexpr std::uint32_t kV4Header = 108;
constexpr std::uint32_t kV5Header = 124;
constexpr std::uint32_t kRgb = 0;        // BI_RGB
constexpr std::uint32_t kBitfields = 3;  // BI_BITFIELDS
// bV5CSType values whose profile data follows the bitmap.
constexpr std::uint32_t kProfileLinked = 0x4C494E4B;    // 'LINK'
constexpr std::uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'

// Header fields by offset; read byte-wise, the pointer need not be aligned.
std::uint32_t u32(const std::uint8_t* at) {
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
std::int32_t i32(const std::uint8_t* at) {
  std::int32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
std::uint16_t u16(const std::uint8_t* at) {
  std::uint16_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

std::size_t PackedBitmapLength(const std::uint8_t* dib) {
  if (!dib) return 0;
  const std::uint32_t headerSize = u32(dib);
  if (headerSize != kInfoHeader && headerSize != kV4Header && headerSize != kV5Header) return 0;

  const std::int32_t width = i32(dib + 4);
  const std::int32_t height = i32(dib + 8);
  const std::uint16_t planes = u16(dib + 12);
  const std::uint16_t bits = u16(dib + 14);
  const std::uint32_t compression = u32(dib + 16);
  const std::uint32_t imageSize = u32(dib + 20);
  const std::uint32_t coloursUsed = u32(dib + 32);

  if (width <= 0 || height == 0 || planes != 1) return 0;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0;
  if (compression != kRgb && !(compression == kBitfields && (bits == 16 || bits == 32))) return 0;

  // 64 bits: width and height are at most 2^31 each, bits at most 32.
  const std::uint64_t rows = height < 0 ? 0ull - static_cast<std::uint64_t>(static_cast<std::int64_t>(height))
                                        : static_cast<std::uint64_t>(height);
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits + 31u) / 32u * 4u;
  if (stride > kMaxThumbnailBytes || rows > kMaxThumbnailBytes) return 0;
  const std::uint64_t pixels = stride * rows;
  if (imageSize != 0 && imageSize != pixels) return 0;

  std::uint64_t colours = coloursUsed;
  if (bits <= 8) {
    const std::uint64_t most = 1ull << bits;
    if (colours > most) return 0;
    if (colours == 0) colours = most;
  }
  const std::uint64_t masks = headerSize == kInfoHeader && compression == kBitfields ? 12u : 0u;
  std::uint64_t length = headerSize + masks + colours * 4u + pixels;

  if (headerSize == kV5Header) {
    const std::uint32_t colourSpace = u32(dib + 56);
    if (colourSpace == kProfileEmbedded || colourSpace == kProfileLinked) {
      const std::uint64_t profileStart = u32(dib + 112);
      const std::uint64_t profileSize = u32(dib + 116);
      if (profileStart < length) return 0;
      length = profileStart + profileSize;
    }
  }
  return length <= kMaxThumbnailBytes ? static_cast<std::size_t>(length) : 0;
}

}  // namespace zelto::capture
