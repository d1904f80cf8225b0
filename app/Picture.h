// Pictures the zelto program shows: the cassette memory's scene pictures
// (packed device-independent bitmaps) decoded to RGB, a little text drawn
// on them, and PNG files written without overwriting anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zelto::app {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // 3 bytes a pixel, top row first

  RgbImage() = default;
  RgbImage(int width, int height, std::uint8_t grey);
  std::uint8_t* At(int x, int y) { return &rgb[(static_cast<std::size_t>(y) * width + x) * 3]; }
};

// A packed bitmap: BITMAPINFOHEADER (or a larger header of that family),
// any colour table or bit-field masks, then the pixels; uncompressed 24 or
// 32 bits a pixel, or 8 with a colour table, bottom-up or top-down. None,
// with *why, for anything else or a bitmap its bytes do not cover.
std::optional<RgbImage> DecodePackedBitmap(const std::uint8_t* bytes, std::size_t size, std::string* why);

// Copies `source` into a w x h box at (x, y), scaled to fit (nearest pixel).
void Blit(RgbImage& target, const RgbImage& source, int x, int y, int w, int h);

// What the font draws for a UTF-8 text: it has printable ASCII only, so an
// accented Latin letter becomes its base letter (a ligature its letters, a
// tab a space, typographic quotes and dashes their plain forms) and any
// other character, a control character or a byte that is no UTF-8 alike,
// the placeholder kMissingGlyph.
inline constexpr char kMissingGlyph = '?';
std::string FontText(const std::string& utf8);

// Text in a small bitmap font (through FontText), each font pixel `scale`
// pixels wide; clipped to the image. Returns the width drawn.
int PaintText(RgbImage& image, int x, int y, const std::string& text, const std::uint8_t colour[3], int scale = 1);
// The height of a line of that text.
int TextHeight(int scale = 1);

// A new PNG file, claimed before the work that fills it: created at once,
// exclusively, so that a name already taken or a place where nothing can be
// written is known before anything moves; written at the end. A file let go
// of unwritten is removed: nothing is left behind.
class NewPngFile {
public:
  enum class Claim { Made, Exists, Unusable };

  NewPngFile() = default;
  ~NewPngFile();
  NewPngFile(const NewPngFile&) = delete;
  NewPngFile& operator=(const NewPngFile&) = delete;

  // Anything but Made comes with *why; a file that exists is left as it is.
  Claim Make(const std::filesystem::path& file, std::string* why);
  // Once, after Make: false, with *why, when it could not be written (the
  // file is then removed).
  bool Write(const RgbImage& image, std::string* why);
  const std::filesystem::path& File() const { return file; }

private:
  void Abandon();

  std::filesystem::path file;
  int descriptor = -1;
};

// Makes and writes a new PNG file at once: false, with *why, when it exists
// already or cannot be written (nothing is left behind then).
bool WriteNewPng(const RgbImage& image, const std::filesystem::path& file, std::string* why);

}  // namespace zelto::app
