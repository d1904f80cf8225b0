// An owned block of picture bytes (a packed device-independent bitmap, as the
// cassette memory stores it). The bytes are copied in and out; an empty
// bitmap has size 0 and a null GetBitmap().
#pragma once

#include <cstdint>
#include <vector>

namespace Orvex {

class OxBitmap {
public:
  OxBitmap();
  OxBitmap(const OxBitmap& other);
  OxBitmap(OxBitmap&& other) noexcept;
  // A zero-filled bitmap of `size` bytes.
  explicit OxBitmap(std::uint32_t size);
  virtual ~OxBitmap();

  OxBitmap& operator=(const OxBitmap& other);
  OxBitmap& operator=(OxBitmap&& other) noexcept;

  // Resizes to `size` bytes, keeping the leading bytes and zero-filling any
  // new ones; 0 empties the bitmap.
  void SetBitmapSize(std::uint32_t size);
  // Replaces the contents with a copy of `size` bytes. A null `bytes` with a
  // non-zero size is refused (false, contents unchanged); size 0 empties.
  bool SetBitmap(const void* bytes, std::uint32_t size);
  std::uint32_t GetBitmapSize() const;
  const std::uint8_t* GetBitmap() const;
  // Writable access for filling a bitmap sized with SetBitmapSize.
  std::uint8_t* GetBitmapBuffer();

  bool operator==(const OxBitmap& other) const { return bytes == other.bytes; }

private:
  std::vector<std::uint8_t> bytes;
};

}  // namespace Orvex
