#include "simulator/Thumbnail.h"

#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace zelto::sim {

namespace {

void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> PackedBitmap(const SyntheticPicture& picture) {
  constexpr std::size_t kHeader = 40;
  const std::vector<std::uint8_t> bits = picture.BottomUpBgr();
  std::vector<std::uint8_t> out(kHeader + bits.size(), 0);
  // BITMAPINFOHEADER, little-endian: size, width, height (positive: bottom
  // row first), planes 1 and 24 bits, no compression, the bits' size, then
  // resolution and colour-table counts left 0.
  Put32(out, 0, kHeader);
  Put32(out, 4, static_cast<std::uint32_t>(picture.Width()));
  Put32(out, 8, static_cast<std::uint32_t>(picture.Height()));
  out[12] = 1;
  out[14] = 24;
  Put32(out, 20, static_cast<std::uint32_t>(bits.size()));
  std::copy(bits.begin(), bits.end(), out.begin() + kHeader);
  return out;
}

const Orvex::_THUMBNAIL_DATA* ThumbnailRecord(const PictureContent& content, std::uint32_t sceneKey) {
  struct Entry {
    std::vector<std::uint8_t> bitmap;
    Orvex::_THUMBNAIL_DATA record;
  };
  using Key = std::tuple<unsigned, std::uint32_t, unsigned, std::uint32_t>;
  // Never freed (see the header).
  static auto* lock = new std::mutex;
  static auto* entries = new std::map<Key, std::unique_ptr<Entry>>;
  std::lock_guard guard(*lock);
  auto& entry = (*entries)[Key{content.sceneNumber, content.timeCodeFrame, content.framesPerSecond, sceneKey}];
  if (!entry) {
    SyntheticPicture picture(kThumbnailWidth, kThumbnailHeight);
    picture.Draw(content);
    auto made = std::make_unique<Entry>();
    made->bitmap = PackedBitmap(picture);
    made->record.dibPointer = made->bitmap.data();
    made->record.sceneKey = sceneKey;
    entry = std::move(made);
  }
  return &entry->record;
}

}  // namespace zelto::sim
