#include "app/CaptureReport.h"

#include <chrono>
#include <cstdio>
#include <system_error>

#include "app/DamageReport.h"
#include "app/ExitCode.h"
#include "app/Interrupt.h"
#include "app/Names.h"
#include "platform/win32.h"
#include "platform/PlatformExtras.h"

namespace zelto::app {

std::string Duration(double seconds) {
  if (seconds < 0) seconds = 0;
  const auto tenths = static_cast<long long>(seconds * 10 + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%lld", tenths / 36000, tenths / 600 % 60, tenths / 10 % 60,
                tenths % 10);
  return text;
}

std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Bytes(double bytes) {
  char text[32];
  if (bytes >= 1e9) std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
  else std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  return text;
}

std::uint64_t FileSize(const std::string& utf8Path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(zelto::platform::PathFromUtf8(utf8Path), ec);
  return ec ? 0 : size;
}

double TapeSeconds(const std::vector<std::string>& utf8Paths) {
  double bytes = 0;
  for (const std::string& f : utf8Paths) bytes += static_cast<double>(FileSize(f));
  return bytes / kStreamBytesPerSecond;
}

nlohmann::ordered_json CaptureReport::Object(const char* event) const {
  nlohmann::ordered_json j;
  j["version"] = 1;
  j["event"] = event;
  return j;
}

void CaptureReport::Print(const nlohmann::ordered_json& object) {
  console.Line(object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

void CaptureReport::Event(const char* what, const std::string& detail, const nlohmann::ordered_json& fields) {
  if (json) {
    nlohmann::ordered_json j = Object(what);
    for (const auto& [key, value] : fields.items()) j[key] = value;
    Print(j);
    return;
  }
  console.Event(std::chrono::system_clock::now(), what, detail);
}

void CaptureReport::Note(const std::string& text) {
  if (json) {
    nlohmann::ordered_json j = Object("note");
    j["text"] = text;
    Print(j);
  } else {
    console.Line(text);
  }
}

void CaptureReport::Refuse(int code, const std::string& text) {
  console.Error(text);
  if (json) ErrorEvent(code, text);
}

void CaptureReport::ErrorEvent(int code, const std::string& text) {
  nlohmann::ordered_json j = Object("error");
  j["error"] = nullptr;  // not one of the library's capture errors
  j["reason"] = text;
  j["status"] = code;
  Print(j);
}

void CaptureReport::Progress(const std::string& line) {
  if (console.Interactive()) {
    console.Status(line);
    return;
  }
  // In a pipe a line stays: one every few seconds is enough to follow.
  constexpr std::uint64_t kPipeProgressMs = 5000;
  const std::uint64_t now = GetTickCount64();
  if (lastProgressLine == 0) lastProgressLine = now;
  if (now - lastProgressLine < kPipeProgressMs) return;
  lastProgressLine = now;
  console.Event(std::chrono::system_clock::now(), "progress", line);
}

void CaptureReport::Captured(double seconds, std::size_t files, const std::string& ended, std::size_t damaged) {
  std::string line = "captured " + Duration(seconds) + " of tape in " + Count(files, "file", "files") + "; " + ended;
  if (damaged > 0) line += "; tape damage in " + std::to_string(damaged) + " of them";
  console.Line(line);
}

void CaptureReport::Unwell(int code, const std::string& capture, const std::string& how, std::size_t files) {
  const std::string kept = Count(files, "file", "files") + " kept";
  switch (code) {
    case kExitInterrupted: console.Error(Interrupt::StoppedBy() + "; " + kept); break;
    case kExitCaptureFailed: console.Error("the " + capture + " stopped: " + how + "; " + kept); break;
    case kExitTakenOver: console.Error("the " + capture + " stopped: " + how + "; " + kept); break;
    case kExitNoRecording: console.Error(how); break;
    default: break;
  }
}

const char* CaptureReport::Result(int code) {
  switch (code) {
    case kExitOk: return "complete";
    case kExitDamaged: return "damaged";
    case kExitInterrupted:
    case kExitTerminated: return "interrupted";
    case kExitTakenOver: return "taken-over";
    case kExitNoRecording: return "no-recording";
    default: return "failed";
  }
}

std::size_t CaptureReport::Damaged(const std::vector<FileInspection>& inspections) {
  std::size_t damaged = 0;
  for (const FileInspection& i : inspections) damaged += i.Damaged() ? 1 : 0;
  return damaged;
}

int CaptureReport::WithDamage(int code, const std::vector<FileInspection>& inspections) {
  return code == kExitOk && Damaged(inspections) > 0 ? kExitDamaged : code;
}

void CaptureReport::DamageLines(const std::vector<FileInspection>& inspections) {
  for (const FileInspection& i : inspections) {
    const std::string name = zelto::platform::Utf8FromPath(zelto::platform::PathFromUtf8(i.file).filename());
    if (i.Inspected()) PrintDamage(console, name, i.outcome.report);
    else console.Line(name + ": not inspected: " + i.outcome.why);
  }
}

void CaptureReport::FileLines(const std::filesystem::path& folder, const std::vector<std::string>& files) {
  if (files.empty()) return;  // the closing line says so
  console.Line(Count(files.size(), "file", "files") + " in " + PathText(folder) + (files.empty() ? "" : ":"));
  for (const std::string& f : files) {
    const std::uint64_t size = FileSize(f);
    const std::string name = zelto::platform::Utf8FromPath(zelto::platform::PathFromUtf8(f).filename());
    char figures[64];
    std::snprintf(figures, sizeof figures, " %10s  %s", Bytes(static_cast<double>(size)).c_str(),
                  Duration(static_cast<double>(size) / kStreamBytesPerSecond).c_str());
    console.Line("  " + PadToWidth(name, 32) + figures);
  }
}

nlohmann::ordered_json CaptureReport::FileArray(const std::vector<std::string>& files,
                                                const std::vector<FileInspection>& inspections) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (std::size_t n = 0; n < files.size(); ++n) {
    const std::uint64_t size = FileSize(files[n]);
    nlohmann::ordered_json entry{
        {"file", files[n]}, {"bytes", size}, {"seconds", static_cast<double>(size) / kStreamBytesPerSecond}};
    if (n < inspections.size()) {
      const FileInspection& i = inspections[n];
      entry["inspection"] = i.Inspected() ? DamageJson(i.outcome.report)
                                          : nlohmann::ordered_json{{"result", "not-inspected"}, {"reason", i.outcome.why}};
    }
    list.push_back(entry);
  }
  return list;
}

}  // namespace zelto::app
