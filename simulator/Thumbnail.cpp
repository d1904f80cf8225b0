#include "simulator/Thumbnail.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include "platform/PlatformExtras.h"
#include "simulator/RecordedFrame.h"

namespace zelto::sim {

namespace {

void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// BITMAPINFOHEADER and bits of a picture of that size.
std::vector<std::uint8_t> Packed(int width, int height, const std::vector<std::uint8_t>& bits) {
  constexpr std::size_t kHeader = 40;
  std::vector<std::uint8_t> out(kHeader + bits.size(), 0);
  // BITMAPINFOHEADER, little-endian: size, width, height (positive: bottom
  // row first), planes 1 and 24 bits, no compression, the bits' size, then
  // resolution and colour-table counts left 0.
  Put32(out, 0, kHeader);
  Put32(out, 4, static_cast<std::uint32_t>(width));
  Put32(out, 8, static_cast<std::uint32_t>(height));
  out[12] = 1;
  out[14] = 24;
  Put32(out, 20, static_cast<std::uint32_t>(bits.size()));
  std::copy(bits.begin(), bits.end(), out.begin() + kHeader);
  return out;
}

// Records and their bitmaps, made once for a key and never freed (see the
// header).
template <typename Key>
const Orvex::_THUMBNAIL_DATA* Kept(const Key& key, std::uint32_t sceneKey,
                                   const std::function<std::vector<std::uint8_t>()>& make) {
  struct Entry {
    std::vector<std::uint8_t> bitmap;
    Orvex::_THUMBNAIL_DATA record;
  };
  static auto* lock = new std::mutex;
  static auto* entries = new std::map<Key, std::unique_ptr<Entry>>;
  std::lock_guard guard(*lock);
  auto& entry = (*entries)[key];
  if (!entry) {
    auto made = std::make_unique<Entry>();
    made->bitmap = make();
    made->record.dibPointer = made->bitmap.data();
    made->record.sceneKey = sceneKey;
    entry = std::move(made);
  }
  return &entry->record;
}

}  // namespace

std::vector<std::uint8_t> PackedBitmap(const SyntheticPicture& picture) {
  return Packed(picture.Width(), picture.Height(), picture.BottomUpBgr());
}

const Orvex::_THUMBNAIL_DATA* ThumbnailRecord(const PictureContent& content, std::uint32_t sceneKey) {
  using Key = std::tuple<unsigned, std::uint32_t, unsigned, std::uint32_t>;
  return Kept(Key{content.sceneNumber, content.timeCodeFrame, content.framesPerSecond, sceneKey}, sceneKey, [&] {
    SyntheticPicture picture(kThumbnailWidth, kThumbnailHeight);
    picture.Draw(content);
    return PackedBitmap(picture);
  });
}

const Orvex::_THUMBNAIL_DATA* RecordedThumbnailRecord(const Scene& scene, std::uint32_t track,
                                                      std::uint32_t sceneKey) {
  const SceneContent& content = *scene.content;
  // The scene's stream packet under the track, as a packet of the file.
  const auto streamPacket = static_cast<std::int64_t>(PacketAtTrack(track - std::min(track, scene.startTrack)));
  const std::int64_t filePacket = static_cast<std::int64_t>(content.fromPacket) + streamPacket - content.atPacket;
  const bool stretch = content.toPacket > content.fromPacket;
  const std::uint64_t packet =
      stretch ? std::clamp<std::uint64_t>(static_cast<std::uint64_t>(std::max<std::int64_t>(filePacket, 0)),
                                          content.fromPacket, content.toPacket - 1)
              : 0;
  using Key = std::tuple<std::string, std::uint64_t, std::uint64_t, std::uint32_t>;
  return Kept(Key{content.file, content.fileSize, packet, sceneKey}, sceneKey, [&] {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kThumbnailWidth) * kThumbnailHeight * 3, 0);
    if (stretch) {
      if (auto frame = RecordedFrame(zelto::platform::PathFromUtf8(content.file), packet, kThumbnailWidth, kThumbnailHeight))
        rgb = std::move(*frame);
    }
    return Packed(kThumbnailWidth, kThumbnailHeight, BottomUpBgr(rgb, kThumbnailWidth, kThumbnailHeight));
  });
}

}  // namespace zelto::sim
