#include "app/ContactSheet.h"

#include <algorithm>

namespace zelto::app {

namespace {

constexpr int kColumns = 4;
constexpr int kPictureWidth = 160;
constexpr int kPictureHeight = 90;
constexpr int kMargin = 12;
constexpr int kLines = 2;  // under each picture: number and length, time codes
constexpr std::uint8_t kBackground = 32;
constexpr std::uint8_t kText[3] = {235, 235, 235};
constexpr std::uint8_t kDim[3] = {150, 150, 150};
constexpr std::uint8_t kNoPicture = 70;

}  // namespace

RgbImage ComposeContactSheet(const std::string& title, const std::vector<SheetScene>& scenes) {
  const int line = TextHeight() + 2;
  const int cellWidth = kPictureWidth + kMargin;
  const int cellHeight = kPictureHeight + 4 + kLines * line + kMargin;
  const int columns = std::clamp(static_cast<int>(scenes.size()), 1, kColumns);
  const int rows = std::max(1, (static_cast<int>(scenes.size()) + kColumns - 1) / kColumns);
  const int titleHeight = TextHeight(2) + kMargin;
  RgbImage sheet(kMargin + columns * cellWidth, kMargin + titleHeight + rows * cellHeight, kBackground);
  PaintText(sheet, kMargin, kMargin, title, kText, 2);

  for (std::size_t i = 0; i < scenes.size(); ++i) {
    const SheetScene& scene = scenes[i];
    const int x = kMargin + static_cast<int>(i % kColumns) * cellWidth;
    const int y = kMargin + titleHeight + static_cast<int>(i / kColumns) * cellHeight;
    if (scene.picture) {
      Blit(sheet, *scene.picture, x, y, kPictureWidth, kPictureHeight);
    } else {
      Blit(sheet, RgbImage(1, 1, kNoPicture), x, y, kPictureWidth, kPictureHeight);
      PaintText(sheet, x + 50, y + kPictureHeight / 2 - 4, "no picture", kDim);
    }
    const int textY = y + kPictureHeight + 4;
    PaintText(sheet, x, textY, "Scene " + std::to_string(scene.number) + "   " + scene.length, kText);
    PaintText(sheet, x, textY + line, scene.times, kDim);
  }
  return sheet;
}

}  // namespace zelto::app
