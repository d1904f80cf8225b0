#include "zelto/capture/ZeltoCaptureNameGenerator.h"

#include <string>

using namespace Orvex;

namespace {

constexpr const wchar_t* kExtension = L".zlt";

std::int32_t wrap(std::int32_t n) { return n / 1000 + n % 1000; }

// The suffix format goes into a string of its own and is formatted with that
// string's text: the base name never reaches a format.
OxString formatted(const wchar_t* format, std::int32_t a) {
  OxString suffix(format);
  suffix.Format(suffix.GetString(), static_cast<int>(a));
  return suffix;
}

OxString formatted(const wchar_t* format, std::int32_t a, std::int32_t b) {
  OxString suffix(format);
  suffix.Format(suffix.GetString(), static_cast<int>(a), static_cast<int>(b));
  return suffix;
}

OxString joined(OxString name, const OxString& suffix, const wchar_t* rest = nullptr) {
  name.Append(suffix);
  name.Append(rest);
  name.Append(kExtension);
  return name;
}

}  // namespace

ZeltoCaptureNameGenerator::ZeltoCaptureNameGenerator(std::int32_t file, std::int32_t part)
    : fileNumber(file), partNumber(part) {}

ZeltoCaptureNameGenerator::~ZeltoCaptureNameGenerator() = default;

void ZeltoCaptureNameGenerator::SetBaseName(OxString name) {
  std::lock_guard<std::mutex> guard(baseNameLock);
  baseName = std::move(name);
}

void ZeltoCaptureNameGenerator::ResetCounters() {
  fileNumber.store(0);
  partNumber.store(0);
}

void ZeltoCaptureNameGenerator::ResetPartNumber() { partNumber.store(0); }
void ZeltoCaptureNameGenerator::NextFile() { fileNumber.fetch_add(1); }
void ZeltoCaptureNameGenerator::NextPart() { partNumber.fetch_add(1); }
std::int32_t ZeltoCaptureNameGenerator::GetFileNumber() const { return fileNumber.load(); }
void ZeltoCaptureNameGenerator::SetFileNumber(std::int32_t number) { fileNumber.store(number); }
std::int32_t ZeltoCaptureNameGenerator::GetPartNumber() const { return partNumber.load(); }
std::int32_t ZeltoCaptureNameGenerator::GetFirstNumber() const { return firstNumber.load(); }
void ZeltoCaptureNameGenerator::SetFirstNumber(std::int32_t number) { firstNumber.store(number); }

// In unsigned arithmetic, so that extreme numbers wrap instead of overflowing.
std::int32_t ZeltoCaptureNameGenerator::GetFileCount() const {
  const std::int32_t first = firstNumber.load();
  const auto file = static_cast<std::uint32_t>(fileNumber.load());
  if (first == 0) return static_cast<std::int32_t>(file);
  return static_cast<std::int32_t>(file - (static_cast<std::uint32_t>(first) - 1u));
}

OxString ZeltoCaptureNameGenerator::base(bool forPattern) const {
  std::lock_guard<std::mutex> guard(baseNameLock);
  if (!forPattern) return baseName;
  std::wstring text;
  for (wchar_t c : baseName.GetStdString()) {
    text += c;
    if (c == L'%') text += L'%';
  }
  return OxString(text);
}

OxString ZeltoCaptureNameGenerator::MakeFirstPartName() const {
  return joined(base(false), formatted(L"-%03d-01", fileNumber.load()));
}

OxString ZeltoCaptureNameGenerator::MakeFirstPartPattern() const {
  return joined(base(true), OxString(L"-%03d-01"));
}

OxString ZeltoCaptureNameGenerator::MakePartName() const {
  return joined(base(false), formatted(L"-%02d", partNumber.load()));
}

OxString ZeltoCaptureNameGenerator::MakePartPattern() const { return joined(base(true), OxString(L"-%02d")); }

OxString ZeltoCaptureNameGenerator::MakeFilePartName() const {
  return joined(base(false), formatted(L"-%03d-%02d", wrap(fileNumber.load()), partNumber.load()));
}

OxString ZeltoCaptureNameGenerator::MakeFilePattern(std::int32_t number) const {
  return joined(base(true), formatted(L"-%03d", wrap(number)), L"-%02d");
}
