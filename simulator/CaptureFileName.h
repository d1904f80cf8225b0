// A capture file name pattern as the driver is handed it: a plain file name
// (no folder) with exactly one number placeholder, "%02d" for the part
// number of a split file or "%03d" for the file number of a scene, which the
// driver fills in itself. Nothing else in it is a format: a pattern with any
// other '%', a path separator, a character Windows forbids in file names or
// a name Windows reserves is refused, so a name can never be formatted into
// something else or reach outside the capture folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelto::sim {

class CaptureFileName {
 public:
  enum class Counts { Parts, Files };  // what the placeholder counts

  // None when the pattern is refused.
  static std::optional<CaptureFileName> Parse(std::wstring_view pattern);

  Counts Placeholder() const { return counts_; }
  // The name with the placeholder replaced by the number, written with at
  // least two ("%02d") or three ("%03d") digits.
  std::wstring Fill(std::uint32_t number) const;

 private:
  std::wstring before_;
  std::wstring after_;
  Counts counts_ = Counts::Parts;
};

}  // namespace zelto::sim
