#include "simulator/CaptureFileName.h"

#include <algorithm>
#include <array>
#include <cwctype>

namespace zelto::sim {

namespace {

bool Forbidden(wchar_t c) {
  if (c < 32) return true;
  constexpr std::wstring_view kForbidden = L"<>:\"/\\|?*";
  return kForbidden.find(c) != std::wstring_view::npos;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9: with or without an extension, Windows
// opens the device instead of a file.
bool Reserved(std::wstring_view name) {
  const std::wstring_view stem = name.substr(0, name.find(L'.'));
  std::wstring upper(stem);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](wchar_t c) { return std::towupper(c); });
  constexpr std::array<std::wstring_view, 4> kDevices = {L"CON", L"PRN", L"AUX", L"NUL"};
  if (std::find(kDevices.begin(), kDevices.end(), upper) != kDevices.end()) return true;
  return upper.size() == 4 && (upper.rfind(L"COM", 0) == 0 || upper.rfind(L"LPT", 0) == 0) && upper[3] >= L'1' &&
         upper[3] <= L'9';
}

}  // namespace

std::optional<CaptureFileName> CaptureFileName::Parse(std::wstring_view pattern) {
  if (pattern.empty() || pattern.size() > 200) return std::nullopt;
  const std::size_t at = pattern.find(L'%');
  if (at == std::wstring_view::npos) return std::nullopt;
  const std::wstring_view placeholder = pattern.substr(at, 4);
  CaptureFileName name;
  if (placeholder == L"%02d") {
    name.counts_ = Counts::Parts;
  } else if (placeholder == L"%03d") {
    name.counts_ = Counts::Files;
  } else {
    return std::nullopt;
  }
  name.before_ = pattern.substr(0, at);
  name.after_ = pattern.substr(at + 4);
  const auto bad = [](std::wstring_view part) {
    return std::any_of(part.begin(), part.end(), [](wchar_t c) { return c == L'%' || Forbidden(c); });
  };
  if (bad(name.before_) || bad(name.after_)) return std::nullopt;
  // Windows drops trailing dots and spaces: the file would get another name.
  const wchar_t last = pattern.back();
  if (last == L'.' || last == L' ') return std::nullopt;
  if (Reserved(name.Fill(1))) return std::nullopt;
  return name;
}

std::wstring CaptureFileName::Fill(std::uint32_t number) const {
  std::wstring digits = std::to_wstring(number);
  const std::size_t width = counts_ == Counts::Parts ? 2 : 3;
  if (digits.size() < width) digits.insert(0, width - digits.size(), L'0');
  return before_ + digits + after_;
}

}  // namespace zelto::sim
