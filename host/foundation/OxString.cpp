#include "host/foundation/OxString.h"

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>

#include "platform/PlatformExtras.h"

namespace Orvex {

OxString::OxString() = default;
OxString::OxString(const wchar_t* value) : text(value ? value : L"") {}
OxString::OxString(std::wstring_view value) : text(value) {}
OxString::OxString(const OxString& other) = default;
OxString::OxString(OxString&& other) noexcept : text(std::move(other.text)) {}
OxString::~OxString() = default;

OxString& OxString::operator=(const OxString& other) = default;
OxString& OxString::operator=(OxString&& other) noexcept {
  text = std::move(other.text);
  return *this;
}
OxString& OxString::operator=(const wchar_t* value) {
  SetString(value);
  return *this;
}

void OxString::Append(const wchar_t* value) {
  if (value) text.append(value);
}
void OxString::Append(const OxString& other) { text.append(other.text); }
void OxString::SetString(const wchar_t* value) {
  if (value)
    text.assign(value);
  else
    text.clear();
}
void OxString::Erase() { text.clear(); }
bool OxString::IsEmpty() const { return text.empty(); }
const wchar_t* OxString::GetString() const { return text.c_str(); }
const wchar_t* OxString::GetUnicodeString() const { return text.c_str(); }
std::size_t OxString::GetLength() const { return text.size(); }
bool OxString::operator==(const OxString& other) const { return text == other.text; }

namespace {

// Widths and precisions beyond this are clamped: they cannot be meant, and an
// unbounded one would let a format ask for gigabytes.
constexpr int kMaxField = 65536;

enum class Length { None, HH, H, L, LL, LongDouble, Ptr, Wide };

struct Directive {
  std::string flags;  // any of "-+ #0"
  bool widthStar = false;
  int width = -1;
  bool precisionStar = false;
  int precision = -1;
  Length length = Length::None;
  wchar_t conversion = 0;
};

int clampField(long long v) { return v > kMaxField ? kMaxField : static_cast<int>(v); }

// Parses the directive after '%'; returns the index just past it, or 0 when
// the text there is not a directive we support.
std::size_t parseDirective(const wchar_t* f, std::size_t i, Directive& d) {
  while (f[i] && std::wcschr(L"-+ #0", f[i])) {
    if (d.flags.find(static_cast<char>(f[i])) == std::string::npos) d.flags += static_cast<char>(f[i]);
    ++i;
  }
  if (f[i] == L'*') {
    d.widthStar = true;
    ++i;
  } else if (f[i] >= L'0' && f[i] <= L'9') {
    long long w = 0;
    while (f[i] >= L'0' && f[i] <= L'9') {
      if (w <= kMaxField) w = w * 10 + (f[i] - L'0');
      ++i;
    }
    d.width = clampField(w);
  }
  if (f[i] == L'.') {
    ++i;
    if (f[i] == L'*') {
      d.precisionStar = true;
      ++i;
    } else {
      long long p = 0;
      while (f[i] >= L'0' && f[i] <= L'9') {
        if (p <= kMaxField) p = p * 10 + (f[i] - L'0');
        ++i;
      }
      d.precision = clampField(p);
    }
  }
  if (f[i] == L'h') {
    ++i;
    d.length = Length::H;
    if (f[i] == L'h') {
      ++i;
      d.length = Length::HH;
    }
  } else if (f[i] == L'l') {
    ++i;
    d.length = Length::L;
    if (f[i] == L'l') {
      ++i;
      d.length = Length::LL;
    }
  } else if (f[i] == L'L') {
    ++i;
    d.length = Length::LongDouble;
  } else if (f[i] == L'w') {
    ++i;
    d.length = Length::Wide;
  } else if (f[i] == L'j') {
    ++i;
    d.length = Length::LL;
  } else if (f[i] == L'z' || f[i] == L't') {
    ++i;
    d.length = Length::Ptr;
  } else if (f[i] == L'I') {
    if (f[i + 1] == L'6' && f[i + 2] == L'4') {
      i += 3;
      d.length = Length::LL;
    } else if (f[i + 1] == L'3' && f[i + 2] == L'2') {
      i += 3;
      d.length = Length::L;
    } else {
      ++i;
      d.length = Length::Ptr;
    }
  }
  wchar_t c = f[i];
  if (c == 0 || !std::wcschr(L"diuxXocCsSpfFeEgGaA", c)) return 0;
  // Lengths that make no sense for the conversion are refused, not guessed.
  const bool isInt = std::wcschr(L"diuxXo", c) != nullptr;
  const bool isFloat = std::wcschr(L"fFeEgGaA", c) != nullptr;
  const bool isText = std::wcschr(L"cCsS", c) != nullptr;
  switch (d.length) {
    case Length::None: break;
    case Length::HH:
    case Length::LL:
    case Length::Ptr:
      if (!isInt) return 0;
      break;
    case Length::H:
    case Length::L:
      if (!isInt && !isText) return 0;
      break;
    case Length::LongDouble:
      if (!isFloat) return 0;
      break;
    case Length::Wide:
      if (!isText) return 0;
      break;
  }
  if (c == L'p' && d.length != Length::None) return 0;
  d.conversion = c;
  return i + 1;
}

void pad(std::wstring& out, const std::wstring& body, const Directive& d) {
  const bool left = d.flags.find('-') != std::string::npos;
  std::size_t width = d.width > 0 ? static_cast<std::size_t>(d.width) : 0;
  std::size_t fill = width > body.size() ? width - body.size() : 0;
  if (!left) out.append(fill, L' ');
  out += body;
  if (left) out.append(fill, L' ');
}

void appendNumber(std::wstring& out, const Directive& d, const char* lengthModifier, char conversion,
                  auto value) {
  std::string conv = "%" + d.flags;
  if (d.width >= 0) conv += std::to_string(d.width);
  if (d.precision >= 0) conv += "." + std::to_string(d.precision);
  conv += lengthModifier;
  conv += conversion;
  char small[128];
#if defined(__GNUC__)
#  pragma GCC diagnostic push
#  pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  int n = std::snprintf(small, sizeof small, conv.c_str(), value);
  std::string narrow;
  if (n >= static_cast<int>(sizeof small)) {
    narrow.resize(static_cast<std::size_t>(n) + 1);
    std::snprintf(narrow.data(), narrow.size(), conv.c_str(), value);
    narrow.resize(static_cast<std::size_t>(n));
  } else if (n >= 0) {
    narrow.assign(small, static_cast<std::size_t>(n));
  }
#if defined(__GNUC__)
#  pragma GCC diagnostic pop
#endif
  for (char ch : narrow) out += static_cast<wchar_t>(static_cast<unsigned char>(ch));
}

void appendText(std::wstring& out, const Directive& d, std::wstring body) {
  if (d.precision >= 0 && body.size() > static_cast<std::size_t>(d.precision))
    body.resize(static_cast<std::size_t>(d.precision));
  pad(out, body, d);
}

void appendSigned(std::wstring& out, const Directive& d, long long v) {
  appendNumber(out, d, "ll", static_cast<char>(d.conversion), v);
}

void appendUnsigned(std::wstring& out, const Directive& d, unsigned long long v) {
  appendNumber(out, d, "ll", static_cast<char>(d.conversion), v);
}

void formatInto(std::wstring& out, const wchar_t* f, va_list args) {
  std::size_t i = 0;
  while (f[i]) {
    if (f[i] != L'%') {
      out += f[i++];
      continue;
    }
    if (f[i + 1] == L'%') {
      out += L'%';
      i += 2;
      continue;
    }
    Directive d;
    std::size_t next = parseDirective(f, i + 1, d);
    if (next == 0) {
      // Not a directive: the '%' is copied and the text after it follows as
      // ordinary characters. No argument is consumed.
      out += f[i++];
      continue;
    }
    // Arguments are consumed only now that the directive is known to be good.
    if (d.widthStar) {
      int w = va_arg(args, int);
      if (w < 0) {
        if (d.flags.find('-') == std::string::npos) d.flags += '-';
        w = w == INT32_MIN ? kMaxField : -w;
      }
      d.width = clampField(w);
    }
    if (d.precisionStar) {
      int p = va_arg(args, int);
      d.precision = p < 0 ? -1 : clampField(p);
    }
    const wchar_t c = d.conversion;
    switch (c) {
      case L'd':
      case L'i': {
        long long v;
        switch (d.length) {
          case Length::HH: v = static_cast<signed char>(va_arg(args, int)); break;
          case Length::H: v = static_cast<short>(va_arg(args, int)); break;
          case Length::LL: v = va_arg(args, long long); break;
          case Length::Ptr: v = static_cast<long long>(va_arg(args, std::intptr_t)); break;
          default: v = static_cast<std::int32_t>(va_arg(args, int)); break;
        }
        appendSigned(out, d, v);
        break;
      }
      case L'u':
      case L'x':
      case L'X':
      case L'o': {
        unsigned long long v;
        switch (d.length) {
          case Length::HH: v = static_cast<unsigned char>(va_arg(args, unsigned)); break;
          case Length::H: v = static_cast<unsigned short>(va_arg(args, unsigned)); break;
          case Length::LL: v = va_arg(args, unsigned long long); break;
          case Length::Ptr: v = static_cast<unsigned long long>(va_arg(args, std::uintptr_t)); break;
          default: v = static_cast<std::uint32_t>(va_arg(args, unsigned)); break;
        }
        appendUnsigned(out, d, v);
        break;
      }
      case L'f':
      case L'F':
      case L'e':
      case L'E':
      case L'g':
      case L'G':
      case L'a':
      case L'A':
        if (d.length == Length::LongDouble)
          appendNumber(out, d, "L", static_cast<char>(c), va_arg(args, long double));
        else
          appendNumber(out, d, "", static_cast<char>(c), va_arg(args, double));
        break;
      case L'p': {
        void* p = va_arg(args, void*);
        Directive hex = d;
        hex.conversion = L'X';
        hex.flags.clear();
        hex.width = -1;
        hex.precision = static_cast<int>(2 * sizeof(void*));
        std::wstring digits;
        appendUnsigned(digits, hex, static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
        d.precision = -1;
        appendText(out, d, digits);
        break;
      }
      case L'c':
      case L'C': {
        int v = va_arg(args, int);
        const bool narrow = c == L'C' ? d.length != Length::L && d.length != Length::Wide
                                      : d.length == Length::H;
        std::wstring body(1, narrow ? static_cast<wchar_t>(static_cast<unsigned char>(v))
                                    : static_cast<wchar_t>(v));
        Directive noPrecision = d;
        noPrecision.precision = -1;
        appendText(out, noPrecision, body);
        break;
      }
      case L's':
      case L'S': {
        const bool narrow = c == L'S' ? d.length != Length::L && d.length != Length::Wide
                                      : d.length == Length::H;
        std::wstring body;
        if (narrow) {
          const char* s = va_arg(args, const char*);
          if (!s) {
            body = L"(null)";
          } else if (d.precision >= 0) {
            // Never read past the precision: the text need not be terminated.
            std::size_t n = 0;
            while (n < static_cast<std::size_t>(d.precision) && s[n]) ++n;
            body = zelto::platform::FromUtf8(std::string_view(s, n));
          } else {
            body = zelto::platform::FromUtf8(s);
          }
        } else {
          const wchar_t* s = va_arg(args, const wchar_t*);
          if (!s) {
            body = L"(null)";
          } else if (d.precision >= 0) {
            std::size_t n = 0;
            while (n < static_cast<std::size_t>(d.precision) && s[n]) ++n;
            body.assign(s, n);
          } else {
            body = s;
          }
        }
        appendText(out, d, std::move(body));
        break;
      }
      default:
        break;
    }
    i = next;
  }
}

}  // namespace

int OxString::FormatV(const wchar_t* format, va_list args) {
  if (!format) {
    text.clear();
    return -1;
  }
  // Built aside: an argument may point into this string's own text.
  std::wstring out;
  formatInto(out, format, args);
  text = std::move(out);
  return static_cast<int>(text.size() > 0x7FFFFFFF ? 0x7FFFFFFF : text.size());
}

int OxString::Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = FormatV(format, args);
  va_end(args);
  return n;
}

}  // namespace Orvex
