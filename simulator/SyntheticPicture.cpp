#include "simulator/SyntheticPicture.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "simulator/Cassette.h"

namespace zelto::sim {

namespace {

// A 5x7 font for the few characters the picture uses; each row is five bits,
// the leftmost pixel in bit 4. Anything else is drawn as a space.
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = kGlyphWidth + 1;

struct Glyph {
  char character;
  std::uint8_t rows[kGlyphHeight];
};

constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
};

const Glyph* Find(char c) {
  for (const Glyph& g : kFont)
    if (g.character == c) return &g;
  return nullptr;
}

// Backgrounds dark enough for white text; scene n takes colour n mod 8, so
// neighbouring scenes always differ.
constexpr std::uint8_t kBackgrounds[][3] = {
    {30, 70, 160}, {160, 40, 40}, {30, 120, 60}, {120, 60, 150},
    {170, 100, 20}, {20, 120, 130}, {90, 90, 90}, {140, 40, 100},
};
constexpr std::uint8_t kText[3] = {240, 240, 240};
constexpr std::uint8_t kBar[3] = {16, 16, 16};

}  // namespace

SyntheticPicture::SyntheticPicture(int width, int height)
    : width_(std::max(width, 1)),
      height_(std::max(height, 1)),
      rgb_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3) {}

void SyntheticPicture::Fill(int x, int y, int w, int h, const std::uint8_t colour[3]) {
  const int x0 = std::max(x, 0), x1 = std::min(x + w, width_);
  const int y0 = std::max(y, 0), y1 = std::min(y + h, height_);
  for (int row = y0; row < y1; ++row) {
    std::uint8_t* p = &rgb_[(static_cast<std::size_t>(row) * static_cast<std::size_t>(width_) +
                             static_cast<std::size_t>(x0)) * 3];
    for (int col = x0; col < x1; ++col, p += 3) std::memcpy(p, colour, 3);
  }
}

void SyntheticPicture::Text(const char* text, int centreY, double widthShare, double heightShare) {
  const int length = static_cast<int>(std::strlen(text));
  const int columns = length * kGlyphAdvance - 1;
  const int scale = std::max(1, std::min(static_cast<int>(width_ * widthShare) / columns,
                                         static_cast<int>(height_ * heightShare) / kGlyphHeight));
  const int left = (width_ - columns * scale) / 2;
  const int top = centreY - kGlyphHeight * scale / 2;
  for (int i = 0; i < length; ++i) {
    const Glyph* glyph = Find(text[i]);
    if (!glyph) continue;
    for (int row = 0; row < kGlyphHeight; ++row)
      for (int col = 0; col < kGlyphWidth; ++col)
        if (glyph->rows[row] & (0x10 >> col))
          Fill(left + (i * kGlyphAdvance + col) * scale, top + row * scale, scale, scale, kText);
  }
}

const std::vector<std::uint8_t>& SyntheticPicture::Draw(const PictureContent& content) {
  Fill(0, 0, width_, height_, kBackgrounds[content.sceneNumber % std::size(kBackgrounds)]);

  const unsigned fps = std::max(content.framesPerSecond, 1u);
  const int barWidth = std::max(width_ / 20, 2);
  const int barX = static_cast<int>(static_cast<long long>(content.timeCodeFrame % fps) * (width_ - barWidth) /
                                    static_cast<long long>(std::max(fps - 1, 1u)));
  Fill(barX, 0, barWidth, height_, kBar);

  const std::string scene = "SCENE " + std::to_string(content.sceneNumber);
  Text(scene.c_str(), height_ / 3, 0.9, 0.35);
  Text(FormatTimeCode(content.timeCodeFrame, fps).c_str(), height_ * 3 / 4, 0.9, 0.2);
  return rgb_;
}

std::vector<std::uint8_t> SyntheticPicture::BottomUpBgr() const { return sim::BottomUpBgr(rgb_, width_, height_); }

std::vector<std::uint8_t> BottomUpBgr(const std::vector<std::uint8_t>& rgb, int width, int height) {
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  const std::size_t stride = (rowBytes + 3) & ~std::size_t{3};
  std::vector<std::uint8_t> bits(stride * static_cast<std::size_t>(height), 0);
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* from = &rgb[static_cast<std::size_t>(row) * rowBytes];
    std::uint8_t* to = &bits[static_cast<std::size_t>(height - 1 - row) * stride];
    for (std::size_t i = 0; i < rowBytes; i += 3) {
      to[i] = from[i + 2];
      to[i + 1] = from[i + 1];
      to[i + 2] = from[i];
    }
  }
  return bits;
}

}  // namespace zelto::sim
