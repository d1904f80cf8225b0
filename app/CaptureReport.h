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

#include "app/CaptureInspection.h"
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
  Console& Out() { return console; }
  // {"version": 1, "event": event}, for the caller to add to.
  nlohmann::ordered_json Object(const char* event) const;
  void Print(const nlohmann::ordered_json& object);
  // One event: a JSON object with these fields, or a time-stamped line.
  void Event(const char* what, const std::string& detail, const nlohmann::ordered_json& fields);
  // Something the capture wants said: a "note" object, or a plain line.
  void Note(const std::string& text);
  // A refusal or a failure: the error line, and with JSON an "error" event
  // with the same words and the exit status.
  void Refuse(int code, const std::string& text);
  // The "error" event alone, for an error line already written.
  void ErrorEvent(int code, const std::string& text);
  // The progress line: redrawn in place on a terminal; in a pipe a
  // time-stamped line every few seconds of the camcorder's clock.
  void Progress(const std::string& line);
  // The closing line under the file list: "captured H:MM:SS.s of tape in N
  // files; <how it ended>", and how many of them the tape damaged.
  void Captured(double seconds, std::size_t files, const std::string& ended, std::size_t damaged);
  // The error line of a capture (or "tape capture") that did not end
  // well, saying how and what it kept; nothing for one that did.
  void Unwell(int code, const std::string& capture, const std::string& how, std::size_t files);
  // The summary's result word for an exit status: "complete", "damaged",
  // "interrupted", "taken-over", "no-recording" or "failed".
  static const char* Result(int code);
  // A capture that completed with tape damage in a file ends kExitDamaged.
  static int WithDamage(int code, const std::vector<FileInspection>& inspections);
  static std::size_t Damaged(const std::vector<FileInspection>& inspections);
  // The files made, for the summary: a line each with its size and length
  // under "N files in FOLDER:" (nothing without files); in JSON an array
  // of {file, bytes, seconds}.
  void FileLines(const std::filesystem::path& folder, const std::vector<std::string>& files);
  // Under the list, what the inspection found in each file, as zelto
  // verify says it.
  void DamageLines(const std::vector<FileInspection>& inspections);
  // With inspections (one a file), each entry also has "inspection": the
  // fields zelto verify --json gives a file, or {"result": "not-inspected",
  // "reason"}.
  static nlohmann::ordered_json FileArray(const std::vector<std::string>& files,
                                          const std::vector<FileInspection>& inspections = {});

private:
  Console& console;
  bool json;
  std::uint64_t lastProgressLine = 0;  // ms of the camcorder's clock; 0: none yet
};

}  // namespace zelto::app
