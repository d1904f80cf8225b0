// A wide string value.
//
// Format is printf-style with the Windows meaning of the wide directives on
// every platform: %s, %ls and %ws take a wide string, %S and %hs a narrow
// (UTF-8) one; %c takes a wide character and %C / %hc a narrow one. A null
// string pointer prints "(null)". Integer lengths follow the Windows data
// model: no length and "l" are 32 bits, "ll", "I64", "j" are 64 bits, "I",
// "z", "t" pointer-sized; "h" and "hh" narrow the value. Supported
// conversions: d i u x X o c C s S p f F e E g G a A and %%; flags - + space
// # 0; width and precision as digits or "*". Anything else (including %n) is
// copied literally and consumes no argument.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace Orvex {

class OxString {
public:
  OxString();
  OxString(const wchar_t* text);  // null gives an empty string
  explicit OxString(std::wstring_view text);
  OxString(const OxString& other);
  OxString(OxString&& other) noexcept;
  virtual ~OxString();

  OxString& operator=(const OxString& other);
  OxString& operator=(OxString&& other) noexcept;
  OxString& operator=(const wchar_t* text);

  void Append(const wchar_t* text);  // null appends nothing
  void Append(const OxString& other);
  void SetString(const wchar_t* text);
  void Erase();
  bool IsEmpty() const;
  const wchar_t* GetString() const;
  const wchar_t* GetUnicodeString() const;
  std::size_t GetLength() const;
  const std::wstring& GetStdString() const { return text; }

  // Replaces the contents with the formatted text and returns its length;
  // a null format empties the string and returns -1.
  int Format(const wchar_t* format, ...);
  int FormatV(const wchar_t* format, va_list args);

  bool operator==(const OxString& other) const;
  bool operator<(const OxString& other) const { return text < other.text; }

private:
  std::wstring text;
};

}  // namespace Orvex
