// The simulated camera's picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "simulator/SyntheticPicture.h"

using namespace zelto::sim;

namespace {

using Rgb = std::vector<std::uint8_t>;

bool IsText(const std::uint8_t* p) { return p[0] > 200 && p[1] > 200 && p[2] > 200; }
bool IsBar(const std::uint8_t* p) { return p[0] < 40 && p[1] < 40 && p[2] < 40; }

// Whether, in rows [from, to), one picture has text where the other has not.
bool TextDiffers(const Rgb& a, const Rgb& b, int width, int from, int to) {
  for (std::size_t i = static_cast<std::size_t>(from * width) * 3; i < static_cast<std::size_t>(to * width) * 3; i += 3)
    if (IsText(&a[i]) != IsText(&b[i])) return true;
  return false;
}

TEST(SyntheticPicture, SceneNumberAboveTimeCodeBelow) {
  constexpr int kWidth = 320, kHeight = 180;
  SyntheticPicture picture(kWidth, kHeight);
  const Rgb scene2 = picture.Draw({2, 100, 25});
  // Scenes 2 and 10 share a background: only the drawn number tells them apart.
  const Rgb scene10 = picture.Draw({10, 100, 25});
  // One second on, the bar stands where it stood: only the time code moved.
  const Rgb secondLater = picture.Draw({2, 125, 25});
  EXPECT_TRUE(TextDiffers(scene2, scene10, kWidth, 0, kHeight / 2));
  EXPECT_FALSE(TextDiffers(scene2, scene10, kWidth, kHeight / 2, kHeight));
  EXPECT_FALSE(TextDiffers(scene2, secondLater, kWidth, 0, kHeight / 2));
  EXPECT_TRUE(TextDiffers(scene2, secondLater, kWidth, kHeight / 2, kHeight));
  // The time code counts frames at the given rate: 00:00:04:00 at 25, 00:00:03:10 at 30.
  EXPECT_TRUE(TextDiffers(scene2, picture.Draw({2, 100, 30}), kWidth, kHeight / 2, kHeight));
}

TEST(SyntheticPicture, BarSweepsAcrossOnceASecond) {
  SyntheticPicture picture(160, 90);
  auto barAt = [&](std::uint32_t frame) {
    const Rgb& rgb = picture.Draw({1, frame, 25});
    const std::uint8_t* bottom = &rgb[static_cast<std::size_t>(89 * 160) * 3];  // below the text
    for (int x = 0; x < 160; ++x)
      if (IsBar(bottom + x * 3)) return x;
    return -1;
  };
  int last = -1;
  for (std::uint32_t frame : {50u, 56u, 62u, 68u, 74u}) {
    const int x = barAt(frame);
    EXPECT_GT(x, last) << "frame " << frame;
    last = x;
  }
  EXPECT_EQ(barAt(75), barAt(50));
}

TEST(SyntheticPicture, AnySizeStaysInItsBuffer) {
  // Under the address sanitizer a glyph or bar drawn past an edge fails here.
  for (auto [w, h] : {std::pair{1, 1}, {7, 5}, {161, 91}, {1000, 12}, {12, 1000}}) {
    SyntheticPicture picture(w, h);
    EXPECT_EQ(picture.Draw({12, 3599, 30}).size(), static_cast<std::size_t>(w * h * 3));
    EXPECT_EQ(picture.BottomUpBgr().size(), static_cast<std::size_t>((w * 3 + 3) / 4 * 4 * h));
  }
}

TEST(SyntheticPicture, BitmapIsBottomUpBgrWithPaddedRows) {
  constexpr int kWidth = 161, kHeight = 90;  // 483 bytes a row, 484 in the bitmap
  constexpr std::size_t kStride = 484;
  SyntheticPicture picture(kWidth, kHeight);
  const Rgb rgb = picture.Draw({1, 30, 25});  // scene 1: red, so a swap of red and blue shows
  const std::vector<std::uint8_t> bits = picture.BottomUpBgr();
  ASSERT_EQ(bits.size(), kStride * kHeight);
  auto rgbAt = [&](int x, int y) { return &rgb[static_cast<std::size_t>(y * kWidth + x) * 3]; };
  auto bitsAt = [&](int x, int y) { return &bits[static_cast<std::size_t>(kHeight - 1 - y) * kStride + x * 3]; };
  // A pixel of the time code, low in the picture, lies in the bitmap's upper rows.
  int textX = -1, textY = kHeight * 3 / 4;
  for (int x = 0; x < kWidth && textX < 0; ++x)
    if (IsText(rgbAt(x, textY))) textX = x;
  ASSERT_GE(textX, 0);
  EXPECT_TRUE(IsText(bitsAt(textX, textY)));
  EXPECT_FALSE(IsText(&bits[static_cast<std::size_t>(textY) * kStride + textX * 3]));
  for (auto [x, y] : {std::pair{kWidth - 1, 0}, {kWidth - 1, kHeight - 1}}) {
    const std::uint8_t* from = rgbAt(x, y);
    const std::uint8_t* to = bitsAt(x, y);
    EXPECT_EQ((std::vector<int>{to[0], to[1], to[2]}), (std::vector<int>{from[2], from[1], from[0]}));
  }
  ASSERT_NE(rgbAt(kWidth - 1, 0)[0], rgbAt(kWidth - 1, 0)[2]);
  for (int row = 0; row < kHeight; ++row) EXPECT_EQ(bits[static_cast<std::size_t>(row) * kStride + 483], 0);
}

}  // namespace
