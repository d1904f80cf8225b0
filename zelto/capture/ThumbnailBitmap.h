// How long the packed device-independent bitmap of a scan thumbnail is,
// judged from its header alone: the driver hands over a pointer and nothing
// else, so the header is all there is to go by, and a header that does not
// hold together is not believed.
//
// A thumbnail is kept when:
// - the pointer is not null;
// - biSize is that of a BITMAPINFOHEADER (40), BITMAPV4HEADER (108) or
//   BITMAPV5HEADER (124);
// - width > 0, height != 0 (negative: top-down), one plane, a bit count of
//   1, 4, 8, 16, 24 or 32;
// - it is uncompressed: BI_RGB, or BI_BITFIELDS at 16 or 32 bits. A
//   compressed picture's size cannot be checked against its dimensions;
// - biSizeImage is 0 (allowed for uncompressed bitmaps) or exactly the size
//   of rows of ((width x bits + 31) / 32) x 4 bytes times |height|. A larger
//   one claims more than such a bitmap can hold; a smaller one would leave a
//   reader of the header short of pixels;
// - at up to 8 bits, biClrUsed is at most 2^bits (0 meaning 2^bits);
// - a V5 header's embedded or linked colour profile, if any, starts at or
//   after the end of the pixels;
// - the whole comes to at most kMaxThumbnailBytes, every size worked out in
//   64 bits so that nothing overflows.
// The length is then the header, the three colour masks a 40-byte header
// has with BI_BITFIELDS, the colour table (biClrUsed entries, or 2^bits at
// up to 8 bits, 4 bytes each), the pixels and, for a V5 header, its colour
// profile: the picture is copied whole, colour table included.
//
// Only the header is read: first biSize's 4 bytes, then, once biSize is one
// of the three, the fields within that size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelto::capture {

// Far above any thumbnail and below anything a reader could be tricked
// into walking far past: 32 MiB.
inline constexpr std::size_t kMaxThumbnailBytes = 32u * 1024u * 1024u;

// The number of bytes to copy from `dib`, or 0 when it is not to be kept.
std::size_t PackedBitmapLength(const std::uint8_t* dib);

}  // namespace zelto::capture
