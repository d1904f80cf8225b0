// Packed device-independent bitmaps for the scan tests, each in a heap
// block of exactly its own length, so that the address sanitizer catches a
// read past it.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace capturetest {

// The header fields a test sets; the rest of the header is zero.
struct DibHeader {
  std::uint32_t headerSize = 40;
  std::int32_t width = 4;
  std::int32_t height = 2;
  std::uint16_t planes = 1;
  std::uint16_t bits = 24;
  std::uint32_t compression = 0;
  std::uint32_t imageSize = 0;
  std::uint32_t coloursUsed = 0;
  // V5 only.
  std::uint32_t colourSpace = 0;
  std::uint32_t profileData = 0;
  std::uint32_t profileSize = 0;
};

// `length` bytes: the header (cut at `length` if shorter), then a pattern
// that differs from bitmap to bitmap by `seed`.
class Dib {
public:
  Dib(const DibHeader& h, std::size_t length, std::uint8_t seed = 1)
      : size(length), bytes(new std::uint8_t[length == 0 ? 1 : length]) {
    std::vector<std::uint8_t> header(124, 0);
    auto put = [&](std::size_t at, const void* value, std::size_t n) { std::memcpy(header.data() + at, value, n); };
    put(0, &h.headerSize, 4);
    put(4, &h.width, 4);
    put(8, &h.height, 4);
    put(12, &h.planes, 2);
    put(14, &h.bits, 2);
    put(16, &h.compression, 4);
    put(20, &h.imageSize, 4);
    put(32, &h.coloursUsed, 4);
    put(56, &h.colourSpace, 4);
    put(112, &h.profileData, 4);
    put(116, &h.profileSize, 4);
    const std::size_t headerBytes = h.headerSize < 124 ? h.headerSize : 124;
    for (std::size_t i = 0; i < length; ++i)
      bytes[i] = i < headerBytes ? header[i] : static_cast<std::uint8_t>(seed * 31 + i * 7);
  }
  const std::uint8_t* Data() const { return bytes.get(); }
  std::size_t Size() const { return size; }
  std::vector<std::uint8_t> Bytes() const { return std::vector<std::uint8_t>(bytes.get(), bytes.get() + size); }

private:
  std::size_t size;
  std::unique_ptr<std::uint8_t[]> bytes;
};

// A 4 x 2, 24-bit picture: 12-byte rows, 24 bytes of pixels.
inline Dib SmallPicture(std::uint8_t seed) {
  DibHeader h;
  h.imageSize = 24;
  return Dib(h, 40 + 24, seed);
}

}  // namespace capturetest
