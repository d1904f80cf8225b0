// The simulated camera's picture: what the capture files show and what the
// tape scan sends as thumbnails. A plain background whose colour follows the
// scene, "SCENE n" large, the frame's time code "HH:MM:SS:FF" below it, and a
// dark bar that sweeps across once a second, so that a viewer sees motion.
#pragma once

#include <cstdint>
#include <vector>

namespace zelto::sim {

// What one frame shows.
struct PictureContent {
  unsigned sceneNumber = 1;
  std::uint32_t timeCodeFrame = 0;  // the frame's time code, counted in frames
  unsigned framesPerSecond = 25;    // how the time code counts: 25 or 30
};

// Draws pictures of one size into a buffer it keeps, so that drawing frame
// after frame allocates nothing. One thread at a time.
class SyntheticPicture {
 public:
  // Any size of at least 1x1; text that does not fit is cut off.
  SyntheticPicture(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }

  // RGB24, top row first, 3 x width bytes a row, valid until the next Draw.
  const std::vector<std::uint8_t>& Draw(const PictureContent& content);

  // The last picture drawn as the pixel bits of a 24-bit bitmap: bottom row
  // first, blue-green-red, each row padded to a multiple of 4 bytes.
  std::vector<std::uint8_t> BottomUpBgr() const;

 private:
  void Fill(int x, int y, int w, int h, const std::uint8_t colour[3]);
  // Text centred on a row, its glyphs scaled up to the largest size that fits
  // in the given part of the width and height.
  void Text(const char* text, int centreY, double widthShare, double heightShare);

  int width_;
  int height_;
  std::vector<std::uint8_t> rgb_;
};

// RGB24 pixels, top row first, as the pixel bits of a 24-bit bitmap: bottom
// row first, blue-green-red, each row padded to a multiple of 4 bytes.
std::vector<std::uint8_t> BottomUpBgr(const std::vector<std::uint8_t>& rgb, int width, int height);

}  // namespace zelto::sim
