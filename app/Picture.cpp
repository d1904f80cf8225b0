#include "app/Picture.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#ifdef _WIN32
#  include <io.h>
#  include <sys/stat.h>
#else
#  include <unistd.h>
#endif

#include "app/Names.h"
#include "platform/PlatformExtras.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_easy_font.h>
#include <stb/stb_image_write.h>

namespace zelto::app {

namespace {

std::uint32_t Read32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t Read16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

constexpr std::uint32_t kRgb = 0;        // BI_RGB
constexpr std::uint32_t kBitFields = 3;  // BI_BITFIELDS
// Larger pictures than this are not scene pictures: refused before any
// allocation a lying header could ask for.
constexpr std::int64_t kLargestSide = 8192;

}  // namespace

RgbImage::RgbImage(int width, int height, std::uint8_t grey)
    : width(width), height(height), rgb(static_cast<std::size_t>(width) * height * 3, grey) {}

std::optional<RgbImage> DecodePackedBitmap(const std::uint8_t* bytes, std::size_t size, std::string* why) {
  auto refuse = [&](const char* text) {
    *why = text;
    return std::nullopt;
  };
  if (bytes == nullptr || size < 40) return refuse("shorter than a bitmap header");
  const std::uint32_t headerSize = Read32(bytes);
  if (headerSize < 40 || headerSize > size) return refuse("a header size that is not one of a bitmap's");
  const auto width = static_cast<std::int32_t>(Read32(bytes + 4));
  const auto rawHeight = static_cast<std::int32_t>(Read32(bytes + 8));
  const std::uint16_t bits = Read16(bytes + 14);
  const std::uint32_t compression = Read32(bytes + 16);
  std::uint32_t colours = Read32(bytes + 32);
  const bool topDown = rawHeight < 0;
  const std::int64_t height = topDown ? -static_cast<std::int64_t>(rawHeight) : rawHeight;
  if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide) return refuse("no sensible size");
  if (bits != 8 && bits != 24 && bits != 32) return refuse("a pixel format other than 8, 24 or 32 bits");
  if (compression != kRgb && !(compression == kBitFields && bits == 32)) return refuse("compressed pixels");

  // What lies between the header and the pixels: the masks of a 40-byte
  // header with bit fields, the colour table of an 8-bit picture.
  std::size_t pixelsAt = headerSize;
  if (compression == kBitFields && headerSize == 40) pixelsAt += 12;
  const std::uint8_t* palette = nullptr;
  if (bits == 8) {
    if (colours == 0 || colours > 256) colours = 256;
    palette = bytes + pixelsAt;
    pixelsAt += static_cast<std::size_t>(colours) * 4;
  }
  const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
  if (pixelsAt > size || stride * static_cast<std::size_t>(height) > size - pixelsAt)
    return refuse("fewer bytes than its header promises");

  RgbImage image(width, static_cast<int>(height), 0);
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* row = bytes + pixelsAt + stride * static_cast<std::size_t>(topDown ? y : image.height - 1 - y);
    for (int x = 0; x < width; ++x) {
      std::uint8_t* out = image.At(x, y);
      if (bits == 8) {
        const std::uint8_t index = row[x];
        if (index >= colours) continue;  // black, never read past the table
        const std::uint8_t* entry = palette + static_cast<std::size_t>(index) * 4;
        out[0] = entry[2], out[1] = entry[1], out[2] = entry[0];
      } else {
        const std::uint8_t* in = row + static_cast<std::size_t>(x) * (bits / 8);
        out[0] = in[2], out[1] = in[1], out[2] = in[0];
      }
    }
  }
  return image;
}

void Blit(RgbImage& target, const RgbImage& source, int x, int y, int w, int h) {
  if (source.width <= 0 || source.height <= 0 || w <= 0 || h <= 0) return;
  for (int ty = std::max(0, y); ty < std::min(target.height, y + h); ++ty) {
    const int sy = static_cast<int>(static_cast<std::int64_t>(ty - y) * source.height / h);
    for (int tx = std::max(0, x); tx < std::min(target.width, x + w); ++tx) {
      const int sx = static_cast<int>(static_cast<std::int64_t>(tx - x) * source.width / w);
      std::memcpy(target.At(tx, ty), const_cast<RgbImage&>(source).At(sx, sy), 3);
    }
  }
}

namespace {

using namespace std::string_view_literals;

// The base letters of U+00C0 to U+017F, one a character; '\0' where the
// character is a ligature (kSpelledOut) or has no base letter.
constexpr std::string_view kLatin1Letters =
    "AAAAAA\0CEEEEIIIIDNOOOOOxOUUUUY\0\0aaaaaa\0ceeeeiiiidnooooo\0ouuuuy\0y"sv;
constexpr std::string_view kLatinExtendedLetters =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi\0\0JjKkkLlLlLlLlLlNnNnNnnNnOoOoOo\0\0RrRrRrSsSsSsSsTtTtTt"
    "UuUuUuUuUuUuWwYyYZzZzZzs"sv;
static_assert(kLatin1Letters.size() == 0x100 - 0xC0 && kLatinExtendedLetters.size() == 0x180 - 0x100);

// Characters drawn as other text: ligatures as their letters, and the
// punctuation a word processor or a phone puts in titles as its plain form.
struct SpelledOut {
  char32_t character;
  const char* text;
};
constexpr SpelledOut kSpelledOut[] = {
    {U'\u00C6', "AE"}, {U'\u00DF', "ss"}, {U'\u00E6', "ae"}, {U'\u0132', "IJ"}, {U'\u0133', "ij"},
    {U'\u0152', "OE"}, {U'\u0153', "oe"}, {U'\u00A0', " "},  {U'\u2018', "'"},  {U'\u2019', "'"},
    {U'\u201C', "\""}, {U'\u201D', "\""}, {U'\u2013', "-"},  {U'\u2014', "-"},  {U'\u2026', "..."}};

// The font's characters: printable ASCII.
bool InFont(char32_t c) { return c >= 0x20 && c < 0x7F; }

}  // namespace

std::string FontText(const std::string& utf8) {
  const std::wstring wide = zelto::platform::FromUtf8(utf8);
  std::string drawn;
  drawn.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    auto c = static_cast<char32_t>(wide[i]);
    // UTF-16 (Windows): a surrogate pair is one character.
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(wide[i + 1]) - 0xDC00);
      ++i;
    }
    char letter = '\0';
    if (InFont(c)) {
      letter = static_cast<char>(c);
    } else if (c == U'\t') {
      letter = ' ';
    } else if (c >= 0xC0 && c < 0x100) {
      letter = kLatin1Letters[c - 0xC0];
    } else if (c >= 0x100 && c < 0x180) {
      letter = kLatinExtendedLetters[c - 0x100];
    }
    const auto spelled = std::find_if(std::begin(kSpelledOut), std::end(kSpelledOut),
                                      [c](const SpelledOut& s) { return s.character == c; });
    if (spelled != std::end(kSpelledOut)) drawn += spelled->text;
    else drawn += letter != '\0' ? letter : kMissingGlyph;
  }
  return drawn;
}

int TextHeight(int scale) { return 10 * scale; }  // capitals 7, descenders 2, a gap

int PaintText(RgbImage& image, int x, int y, const std::string& text, const std::uint8_t colour[3], int scale) {
  // The font gives each character as rectangles (quads of four vertices of
  // 16 bytes); each is filled, scaled, into the image. It knows printable
  // ASCII only, and reads outside its tables for anything else.
  std::string writable = FontText(text);
  std::vector<char> buffer(writable.size() * 16 * 4 * 40 + 64);
  unsigned char rgba[4] = {colour[0], colour[1], colour[2], 255};
  const int quads = stb_easy_font_print(0, 0, writable.data(), rgba, buffer.data(), static_cast<int>(buffer.size()));
  for (int q = 0; q < quads; ++q) {
    const auto* v = reinterpret_cast<const float*>(buffer.data() + static_cast<std::size_t>(q) * 64);
    const int x0 = x + static_cast<int>(v[0]) * scale, y0 = y + static_cast<int>(v[1]) * scale;
    const int x1 = x + static_cast<int>(v[8]) * scale, y1 = y + static_cast<int>(v[9]) * scale;
    for (int py = std::max(0, y0); py < std::min(image.height, y1); ++py)
      for (int px = std::max(0, x0); px < std::min(image.width, x1); ++px) std::memcpy(image.At(px, py), colour, 3);
  }
  return stb_easy_font_width(writable.data()) * scale;
}

namespace {

int CloseDescriptor(int descriptor) {
#ifdef _WIN32
  return _close(descriptor);
#else
  return ::close(descriptor);
#endif
}

}  // namespace

NewPngFile::~NewPngFile() { Abandon(); }

void NewPngFile::Abandon() {
  if (descriptor < 0) return;
  CloseDescriptor(descriptor);
  descriptor = -1;
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
}

NewPngFile::Claim NewPngFile::Make(const std::filesystem::path& path, std::string* why) {
  Abandon();
  file = path;
  // Exclusively: a file of that name, a link or a folder is never touched.
#ifdef _WIN32
  descriptor = _wopen(file.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  descriptor = ::open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
#endif
  if (descriptor >= 0) return Claim::Made;
  const int error = errno;
  std::error_code ec;
  if (error == EEXIST && std::filesystem::is_directory(std::filesystem::symlink_status(file, ec))) {
    *why = PathText(file) + " is a folder; name a PNG file";
    return Claim::Unusable;
  }
  if (error == EEXIST) {
    *why = PathText(file) + " exists already (it is left as it is); name another file";
    return Claim::Exists;
  }
  *why = PathText(file) + " cannot be created: " + std::generic_category().message(error);
  return Claim::Unusable;
}

bool NewPngFile::Write(const RgbImage& image, std::string* why) {
  if (descriptor < 0) {
    *why = PathText(file) + " was not made";
    return false;
  }
  std::vector<std::uint8_t> png;
  const auto append = [](void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    out->insert(out->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
  };
  if (image.width <= 0 || image.height <= 0 ||
      !stbi_write_png_to_func(append, &png, image.width, image.height, 3, image.rgb.data(), image.width * 3)) {
    Abandon();
    *why = "the picture could not be encoded";
    return false;
  }
  std::size_t written = 0;
  int error = 0;
  while (written < png.size()) {
    const std::size_t chunk = std::min<std::size_t>(png.size() - written, 1 << 20);
#ifdef _WIN32
    const int n = _write(descriptor, png.data() + written, static_cast<unsigned>(chunk));
#else
    const auto n = ::write(descriptor, png.data() + written, chunk);
#endif
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  const int closed = CloseDescriptor(descriptor);
  if (written == png.size() && closed != 0) error = errno;
  descriptor = -1;
  if (error != 0) {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    *why = PathText(file) + " cannot be written: " + std::generic_category().message(error);
    return false;
  }
  return true;
}

bool WriteNewPng(const RgbImage& image, const std::filesystem::path& file, std::string* why) {
  NewPngFile png;
  return png.Make(file, why) == NewPngFile::Claim::Made && png.Write(image, why);
}

}  // namespace zelto::app
