// Feeds bytes as what a contact sheet shows to the command's pictures
// (ComposeContactSheet, PaintText, DecodePackedBitmap): the text before a
// NUL byte is the tape's title and, a line each, every scene's times and
// length; the bytes after it a scene picture as the cassette memory keeps
// it. Any text is drawn within the font (printable ASCII after FontText),
// any picture is decoded within its bytes or refused.
#include <cstring>

#include "app/ContactSheet.h"
#include "fuzz/FuzzSupport.h"

namespace {

// What a sheet is drawn from, cut to what the command could be given: a
// tape title is at most 64 characters, four bytes each at most in UTF-8,
// and a scene's lines are shorter. Longer lines draw nothing new and cost
// a font buffer of some kilobytes a character.
constexpr std::size_t kLongestLine = 4 * 64;
// Up to five scenes: a full row and one more, with and without pictures.
// Each costs a cell of pixels whatever its text.
constexpr std::size_t kMostScenes = 5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::Text(data, size);
  const std::size_t nul = input.find('\0');
  std::vector<std::string> lines = fuzz::Fields(input.substr(0, nul), '\n');
  std::optional<zelto::app::RgbImage> picture;
  if (nul != std::string_view::npos) {
    // A block of just the picture's bytes: a read past them is caught.
    const std::size_t bytes = size - nul - 1;
    std::vector<std::uint8_t> block(data + nul + 1, data + size);
    std::string why;
    picture = zelto::app::DecodePackedBitmap(bytes ? block.data() : nullptr, bytes, &why);
    FUZZ_CHECK(picture || !why.empty(), "a refused picture says why");
  }
  for (std::string& line : lines) {
    for (const char c : zelto::app::FontText(line))
      FUZZ_CHECK(c >= 0x20 && c < 0x7F, "'%s' draws character %d", line.c_str(), c);
    if (line.size() > kLongestLine) line.resize(kLongestLine);
  }
  std::vector<zelto::app::SheetScene> scenes;
  for (std::size_t i = 1; i + 1 < lines.size() && scenes.size() < kMostScenes; i += 2) {
    zelto::app::SheetScene scene;
    scene.number = static_cast<unsigned>(scenes.size() + 1);
    scene.times = lines[i];
    scene.length = lines[i + 1];
    if (scene.number % 2 == 1) scene.picture = picture;
    scenes.push_back(std::move(scene));
  }
  const zelto::app::RgbImage sheet = zelto::app::ComposeContactSheet(lines[0], scenes);
  FUZZ_CHECK(sheet.rgb.size() == static_cast<std::size_t>(sheet.width) * sheet.height * 3, "a whole picture");
  // Text set anywhere, even partly off the picture, is clipped to it.
  zelto::app::RgbImage small(37, 11, 0);
  const std::uint8_t white[3] = {255, 255, 255};
  const int offset = static_cast<int>(size % 41) - 20;
  zelto::app::PaintText(small, offset, -offset / 2, lines[0], white, 1 + static_cast<int>(size % 3));
  return 0;
}
