// What the capture commands print: lengths of tape, sizes and counts as a
// person reads them, each event as a time-stamped line or a JSON object,
// and the closing list of files.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Console.h"

namespace zelto::app {

// What the library takes as the stream rate: bytes per second of tape.
inline constexpr double kStreamBytesPerSecond = 1'590'000.0;

// "H:MM:SS.s" of tape.
std::string Duration(double seconds);
// "1 section", "3 sections".
std::string Count(std::size_t n, const char* one, const char* many);
// "12.3 MB", "4.2 GB".
std::string Bytes(double bytes);
// The size of a file named in UTF-8; 0 when it cannot be read.
std::uint64_t FileSize(const std::string& utf8Path);
// Seconds of tape in the files, by their sizes.
double TapeSeconds(const std::vector<std::string>& utf8Paths);

class CaptureReport {
public:
  CaptureReport(Console& console, bool json) : console(console), json(json) {}

  bool Json() const { return json; }
  // {"version": 1, "event": event}, for the caller to add to.
  nlohmann::ordered_json Object(const char* event) const;
  void Print(const nlohmann::ordered_json& object);
  // One event: a JSON object with these fields, or a time-stamped line.
  void Event(const char* what, const std::string& detail, const nlohmann::ordered_json& fields);
  // Something the capture wants said: a "note" object, or a plain line.
  void Note(const std::string& text);
  // The files made, for the summary: a line each with its size and length
  // under "N files in FOLDER:"; in JSON an array of {file, bytes, seconds}.
  void FileLines(const std::filesystem::path& folder, const std::vector<std::string>& files);
  static nlohmann::ordered_json FileArray(const std::vector<std::string>& files);

private:
  Console& console;
  bool json;
};

}  // namespace zelto::app
