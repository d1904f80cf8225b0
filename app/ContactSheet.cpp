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
constexpr std::uint8_t kDamage[3] = {230, 40, 40};
constexpr int kFrame = 3;

void Fill(RgbImage& image, int x, int y, int w, int h, const std::uint8_t colour[3]) {
  for (int row = std::max(0, y); row < std::min(image.height, y + h); ++row)
    for (int col = std::max(0, x); col < std::min(image.width, x + w); ++col)
      std::copy(colour, colour + 3, image.At(col, row));
}

// A red frame just inside the picture, and the word on a dark band.
void MarkDamaged(RgbImage& sheet, int x, int y) {
  Fill(sheet, x, y, kPictureWidth, kFrame, kDamage);
  Fill(sheet, x, y + kPictureHeight - kFrame, kPictureWidth, kFrame, kDamage);
  Fill(sheet, x, y, kFrame, kPictureHeight, kDamage);
  Fill(sheet, x + kPictureWidth - kFrame, y, kFrame, kPictureHeight, kDamage);
  const std::uint8_t band[3] = {kBackground, kBackground, kBackground};
  Fill(sheet, x + kFrame, y + kFrame, 8 * 7 + 4, TextHeight() + 4, band);
  PaintText(sheet, x + kFrame + 2, y + kFrame + 2, "damaged", kDamage);
}

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
    if (scene.damaged) MarkDamaged(sheet, x, y);
    const int textY = y + kPictureHeight + 4;
    PaintText(sheet, x, textY, "Scene " + std::to_string(scene.number) + "   " + scene.length, kText);
    PaintText(sheet, x, textY + line, scene.times, kDim);
  }
  return sheet;
}

}  // namespace zelto::app
