// How much of a thumbnail is kept, judged from its header: every bitmap
// sits in a block of its own exact size, so a header read past its end
// fails under the address sanitizer.
#include <gtest/gtest.h>

#include <climits>

#include "tests/capture/ThumbnailSupport.h"
#include "zelto/capture/ThumbnailBitmap.h"

using namespace capturetest;
using zelto::capture::PackedBitmapLength;

namespace {

DibHeader Header(std::uint32_t size, std::int32_t width, std::int32_t height, std::uint16_t bits,
                 std::uint32_t compression = 0, std::uint32_t imageSize = 0, std::uint32_t colours = 0) {
  DibHeader h;
  h.headerSize = size;
  h.width = width;
  h.height = height;
  h.bits = bits;
  h.compression = compression;
  h.imageSize = imageSize;
  h.coloursUsed = colours;
  return h;
}

constexpr std::uint32_t kBitfields = 3;
constexpr std::uint32_t kEmbedded = 0x4D424544;

TEST(ThumbnailBitmapTest, HonestHeadersGiveHeaderTableAndPixelsWhole) {
  DibHeader profiled = Header(124, 1, 1, 32);
  profiled.colourSpace = kEmbedded;
  profiled.profileData = 128;  // right after the 4 bytes of pixels
  profiled.profileSize = 16;
  DibHeader srgb = Header(124, 1, 1, 32);
  srgb.colourSpace = 0x73524742;  // 'sRGB': no profile data
  const struct {
    const char* what;
    DibHeader header;
    std::size_t length;
  } cases[] = {
      {"24 bits, size given", Header(40, 4, 2, 24, 0, 24), 64},
      {"24 bits, size 0", Header(40, 4, 2, 24), 64},
      {"rows padded to 4 bytes, top-down", Header(40, 5, -2, 24), 40 + 2 * 16},
      {"8 bits, full colour table", Header(40, 4, 2, 8, 0, 8), 40 + 256 * 4 + 8},
      {"4 bits, 3 colours", Header(40, 3, 1, 4, 0, 0, 3), 40 + 3 * 4 + 4},
      {"1 bit", Header(40, 1, 1, 1), 40 + 2 * 4 + 4},
      {"24 bits with a colour table", Header(40, 4, 2, 24, 0, 24, 2), 40 + 2 * 4 + 24},
      {"16 bits, masks after a 40-byte header", Header(40, 2, 2, 16, kBitfields), 40 + 12 + 8},
      {"32 bits, masks inside a V4 header", Header(108, 2, 1, 32, kBitfields), 108 + 8},
      {"V5, embedded profile after the pixels", profiled, 144},
      {"V5 without profile data", srgb, 128},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Dib dib(c.header, c.length);
    EXPECT_EQ(PackedBitmapLength(dib.Data()), c.length);
  }
}

TEST(ThumbnailBitmapTest, HeadersThatLieAreDroppedWithoutAReadPastThem) {
  DibHeader overlapping = Header(124, 1, 1, 32);
  overlapping.colourSpace = kEmbedded;
  overlapping.profileData = 100;  // inside the header
  const struct {
    const char* what;
    DibHeader header;
    std::size_t length;  // of the block: as much as the header itself says, or less
  } cases[] = {
      {"a 12-byte core header", Header(12, 4, 2, 24), 12},
      {"no header size", Header(0, 4, 2, 24), 4},
      {"an unknown header size", Header(41, 4, 2, 24), 4},
      {"a header size that is all ones", Header(0xFFFFFFFFu, 4, 2, 24), 4},
      {"width 0", Header(40, 0, 2, 24), 40},
      {"negative width", Header(40, -4, 2, 24), 40},
      {"height 0", Header(40, 4, 0, 24), 40},
      {"the most negative height", Header(40, 4, INT_MIN, 24), 40},
      {"7 bits", Header(40, 4, 2, 7), 40},
      {"run-length compressed", Header(40, 4, 2, 8, 1), 40},
      {"masks at 24 bits", Header(40, 4, 2, 24, kBitfields), 40},
      {"JPEG inside", Header(40, 4, 2, 24, 4), 40},
      {"size one byte more than the pixels", Header(40, 4, 2, 24, 0, 25), 40},
      {"size one byte less than the pixels", Header(40, 4, 2, 24, 0, 23), 40},
      {"a size near 4 GiB", Header(40, 4, 2, 24, 0, 0xFFFFFFF0u), 40},
      {"dimensions whose product overflows 32 bits", Header(40, INT_MAX, INT_MAX, 32), 40},
      {"a size that wraps to the pixels' in 32 bits", Header(40, 0x40000001, 1, 32, 0, 4), 40},
      {"more colours than 8 bits have", Header(40, 4, 2, 8, 0, 0, 257), 40},
      {"a colour table of 16 GiB", Header(40, 4, 2, 24, 0, 0, 0xFFFFFFFFu), 40},
      {"more than 32 MiB of pixels", Header(40, 4096, 2049, 32), 40},
      {"a profile inside the header", overlapping, 124},
  };
  EXPECT_EQ(PackedBitmapLength(nullptr), 0u);
  DibHeader planes = Header(40, 4, 2, 24);
  planes.planes = 2;
  EXPECT_EQ(PackedBitmapLength(Dib(planes, 40).Data()), 0u) << "two planes";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Dib dib(c.header, c.length);
    EXPECT_EQ(PackedBitmapLength(dib.Data()), 0u);
  }
}

}  // namespace
