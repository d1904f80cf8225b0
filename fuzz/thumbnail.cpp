// Feeds bytes as the bitmap a driver's thumbnail record points at to the
// library's thumbnail check (PackedBitmapLength, which decides what the
// scan's thumbnail store copies): it reads the header alone, within the
// size the header gives itself, and never keeps more than the limit.
#include <algorithm>
#include <cstring>
#include <memory>

#include "fuzz/FuzzSupport.h"
#include "zelto/capture/ThumbnailBitmap.h"

namespace {

// A copy of the input in a block of exactly `size` bytes (zeros past the
// input), so that the address sanitizer catches any read beyond it.
std::unique_ptr<std::uint8_t[]> Block(const std::uint8_t* data, std::size_t input, std::size_t size) {
  auto block = std::make_unique<std::uint8_t[]>(size);
  std::memcpy(block.get(), data, std::min(input, size));
  return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A driver's pointer holds at least the header it describes: its size
  // field, then the header that field names.
  std::size_t header = 4;
  std::uint32_t named = 0;  // the size field, zeros past a shorter input
  std::memcpy(&named, data, std::min<std::size_t>(size, 4));
  if (named == 40 || named == 108 || named == 124) header = named;
  const std::size_t given = std::max(size, header);
  const std::size_t length = zelto::capture::PackedBitmapLength(Block(data, size, given).get());
  if (length == 0) return 0;
  FUZZ_CHECK(length >= header && length <= zelto::capture::kMaxThumbnailBytes, "length %zu, header %zu", length,
             header);
  // The store copies `length` bytes: a block of just that size is judged
  // the same, the header alone being read.
  const auto kept = Block(data, size, length);
  FUZZ_CHECK(zelto::capture::PackedBitmapLength(kept.get()) == length, "the same header, another length");
  return 0;
}
