// Text and path conversion shared by every platform build.
#include "platform/PlatformExtras.h"

namespace zelto::platform {

namespace {

// Appends one code point as UTF-8; invalid code points become U+FFFD.
void appendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void appendWide(std::wstring& out, char32_t cp) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(cp);
}

}  // namespace

std::string ToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      cp &= 0xFFFF;
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
        char32_t lo = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          ++i;
        }
      }
    }
    appendUtf8(out, cp);
  }
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<unsigned char>(text[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xE ? 2 : (b >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
      appendWide(out, 0xFFFD);
      ++i;
      continue;
    }
    char32_t cp = extra == 0 ? b : (b & (0x3F >> extra));
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      auto c = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((c & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    // The shortest form only (an overlong '/' must not become a separator),
    // and no surrogate halves: they are not characters.
    constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (ok && (cp < kLeast[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      appendWide(out, 0xFFFD);
      ++i;
      continue;
    }
    appendWide(out, cp);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

std::filesystem::path NativePath(std::wstring_view windowsPath) {
#ifdef _WIN32
  return std::filesystem::path(std::wstring(windowsPath));  // native: no conversion
#else
  return std::filesystem::path(NativePathText(windowsPath));
#endif
}

#ifndef _WIN32
std::string NativePathText(std::wstring_view windowsPath) {
  // Most paths are ASCII: copied straight, without encoding each character.
  std::string text(windowsPath.size(), '\0');
  for (std::size_t i = 0; i < windowsPath.size(); ++i) {
    const wchar_t c = windowsPath[i];
    if (c <= 0 || c >= 0x80) {
      text.clear();
      break;
    }
    text[i] = c == L'\\' ? '/' : static_cast<char>(c);
  }
  if (!text.empty() || windowsPath.empty()) return text;
  text = ToUtf8(windowsPath);
  for (auto& c : text)
    if (c == '\\') c = '/';
  return text;
}
#endif

std::wstring WidePath(const std::filesystem::path& path) {
#ifdef _WIN32
  return path.native();
#else
  std::wstring wide = FromUtf8(path.native());
  for (auto& c : wide)
    if (c == L'/') c = L'\\';
  return wide;
#endif
}

// The native string is the path itself on each platform: no conversion
// hides behind either constructor or native().
std::filesystem::path PathFromUtf8(std::string_view text) {
#ifdef _WIN32
  return std::filesystem::path(FromUtf8(text));
#else
  return std::filesystem::path(std::string(text));
#endif
}

std::string Utf8FromPath(const std::filesystem::path& path) {
#ifdef _WIN32
  return ToUtf8(path.native());
#else
  return path.native();
#endif
}

}  // namespace zelto::platform
