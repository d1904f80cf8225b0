// Reads damaged stretches of a completed capture again and mends the file
// from the passes. A pass is a one-section batch capture from the very tape
// point the file began at: the camcorder's stream is then the same packet
// for packet up to where the tape loses different ones, which is what the
// pass assembly aligns by (a read begun elsewhere shares no packet with the
// file). It runs a little past the file's last damage and is stopped there.
//
// Pass files are captured into a hidden folder and moved beside the file as
// FILE.passN (N = 2 for the first re-read, as the assembly counts them);
// none is a capture name. The file is assembled from all passes so far into
// FILE.assembling, flushed, and renamed over the file only when complete.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/CaptureInspection.h"
#include "app/CaptureReport.h"
#include "app/EventPump.h"
#include "app/Session.h"
#include "streamcheck/AssemblyReport.h"

namespace zelto::app {

struct RetryResult {
  enum class Ending { Whole, Damaged, CutShort, Failed };
  Ending ending = Ending::Damaged;
  std::string why;               // CutShort and Failed, in words
  std::size_t passes = 0;        // extra reads of the tape made
  bool replaced = false;         // the file is now the assembled stream
  zelto::streamcheck::AssemblyReport assembly;  // of the last assembly made
};

class CaptureRetry {
public:
  CaptureRetry(Session& session, EventPump& pump, CaptureReport& report, unsigned retries, bool keepPasses)
      : session(session), pump(pump), report(report), retries(retries), keepPasses(keepPasses) {}

  // Reads the damage of `damaged` again from `inPoint` (hundredths of a
  // second of tape, where the file began) up to `retries` times while
  // damage remains; the file's inspection is refreshed in place.
  RetryResult Repair(FileInspection& damaged, std::uint32_t inPoint);

  // Where a file begins on the tape (hundredths of a second), or none with
  // *whyNot saying why it cannot be read again.
  using TapePointOf = std::function<std::optional<std::uint32_t>(const FileInspection& file, std::string* whyNot)>;
  // Repairs each damaged file that `start` finds a tape point for; each
  // other damaged file is noted as not read again, with the reason. False
  // when the retry was cut short (Ctrl-C).
  bool RepairAll(std::vector<FileInspection>& files, const TapePointOf& start);

  // The pass file names beside a capture: FILE.pass2, FILE.pass3, ...
  static std::filesystem::path PassPath(const std::filesystem::path& file, std::size_t pass);

private:
  // One more read into `to`; empty when made, otherwise why not.
  std::string CapturePass(const std::filesystem::path& file, std::uint32_t inPoint, std::uint64_t bytes,
                          const std::filesystem::path& to, bool* interrupted);
  void Tell(const FileInspection& file, const RetryResult& result);

  Session& session;
  EventPump& pump;
  CaptureReport& report;
  const unsigned retries;
  const bool keepPasses;
};

}  // namespace zelto::app
