// The tape scan's thumbnails: the scene's picture, small, as a packed
// device-independent bitmap (a 40-byte BITMAPINFOHEADER, then the bits:
// 24 bits a pixel, bottom row first, rows padded to 4 bytes), and the record
// the thumbnail event points at.
#pragma once

#include <cstdint>
#include <vector>

#include "host/foundation/OxDeviceTypes.h"
#include "simulator/Cassette.h"
#include "simulator/SyntheticPicture.h"

namespace zelto::sim {

inline constexpr int kThumbnailWidth = 160;
inline constexpr int kThumbnailHeight = 90;

// The picture last drawn, packed.
std::vector<std::uint8_t> PackedBitmap(const SyntheticPicture& picture);

// The record of a thumbnail of this picture keyed by `sceneKey`. Records and
// their bitmaps live as long as the process, since a posted event may be
// dispatched after the camcorder is gone; one picture with one key is made
// once, so scanning a tape again takes no more memory. Thread-safe.
const Orvex::_THUMBNAIL_DATA* ThumbnailRecord(const PictureContent& content, std::uint32_t sceneKey);

// The record of a thumbnail of a scene recorded from a file, at `track` of
// that scene: the file's picture there (at a point in the margins around
// the file's stretch, the nearest picture of the stretch); black where the
// file cannot be read any more, as the tape then carries null packets.
// Kept as ThumbnailRecord's are.
const Orvex::_THUMBNAIL_DATA* RecordedThumbnailRecord(const Scene& scene, std::uint32_t track,
                                                      std::uint32_t sceneKey);

}  // namespace zelto::sim
