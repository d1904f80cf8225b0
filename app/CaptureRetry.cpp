#include "app/CaptureRetry.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "app/CaptureJournal.h"
#include "app/DamageReport.h"
#include "app/Names.h"
#include "host/foundation/OxUnique.h"
#include "platform/PlatformExtras.h"
#include "platform/win32.h"
#include "streamcheck/PassAssembly.h"
#include "streamcheck/TransportPacket.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

namespace fs = std::filesystem;
using namespace Orvex;
using zelto::streamcheck::AssemblyReport;
using zelto::streamcheck::PassOutcome;

namespace {

// Where passes are captured before they are moved beside their file: the
// camcorder names what it writes as captures, and no capture lives here.
constexpr const char* kPassFolder = ".zelto-passes";
// How far a pass reads past the last damage: room for the packets the
// assembly put back, and for the pass to agree with the file after it.
constexpr double kPassMarginSeconds = 1.0;

std::string Name(const fs::path& file) { return zelto::platform::Utf8FromPath(file.filename()); }

const char* EndingWord(RetryResult::Ending ending) {
  switch (ending) {
    case RetryResult::Ending::Whole: return "whole";
    case RetryResult::Ending::Damaged: return "damaged";
    case RetryResult::Ending::CutShort: return "cut-short";
    case RetryResult::Ending::Failed: return "failed";
  }
  return "failed";
}

const char* FateWord(PassOutcome::Fate fate) {
  switch (fate) {
    case PassOutcome::Fate::Used: return "used";
    case PassOutcome::Fate::Partly: return "partly";
    case PassOutcome::Fate::Refused: return "refused";
  }
  return "refused";
}

}  // namespace

bool CaptureRetry::RepairAll(std::vector<FileInspection>& files, const TapePointOf& start) {
  for (FileInspection& file : files) {
    if (!file.Damaged()) continue;
    std::string whyNot;
    const std::optional<std::uint32_t> inPoint = start(file, &whyNot);
    if (!inPoint) {
      report.Note(Name(zelto::platform::PathFromUtf8(file.file)) + " is not read again: " + whyNot);
      continue;
    }
    if (Repair(file, *inPoint).ending == RetryResult::Ending::CutShort) return false;
  }
  return true;
}

fs::path CaptureRetry::PassPath(const fs::path& file, std::size_t pass) {
  fs::path name = file;
  name += ".pass" + std::to_string(pass);
  return name;
}

RetryResult CaptureRetry::Repair(FileInspection& damaged, std::uint32_t inPoint) {
  const fs::path file = zelto::platform::PathFromUtf8(damaged.file);
  fs::path assembling = file;
  assembling += ".assembling";
  std::error_code ec;
  RetryResult result;
  std::vector<fs::path> passes;
  zelto::streamcheck::StreamReport left = damaged.outcome.report;
  while (result.passes < retries && !left.Whole()) {
    std::uint64_t lastDamage = 0;
    for (const auto& s : left.stretches) lastDamage = std::max(lastDamage, s.endByte);
    if (left.stretchesNotListed > 0 || lastDamage == 0) lastDamage = left.bytes;
    const std::uint64_t bytes = lastDamage + static_cast<std::uint64_t>(kPassMarginSeconds * kStreamBytesPerSecond);
    const fs::path pass = PassPath(file, passes.size() + 2);
    bool interrupted = false;
    report.Event("pass", Name(file) + ": pass " + std::to_string(passes.size() + 2) + ", reading again from " +
                             Duration(inPoint / 100.0) + " of tape",
                 {{"file", damaged.file}, {"pass", passes.size() + 2}, {"fromSeconds", inPoint / 100.0}});
    const std::string problem = CapturePass(file, inPoint, bytes, pass, &interrupted);
    if (interrupted || !problem.empty()) {
      result.ending = interrupted ? RetryResult::Ending::CutShort : RetryResult::Ending::Failed;
      result.why = interrupted ? "the retry was cut short; " + Name(file) + " is kept as captured"
                               : "a pass could not be read (" + problem + "); " + Name(file) + " is kept as captured";
      fs::remove(pass, ec);
      break;
    }
    ++result.passes;
    passes.push_back(pass);
    fs::remove(assembling, ec);  // what a killed retry left
    result.assembly = zelto::streamcheck::Assemble(file, passes, assembling);
    // The assembly reads packets only; the file's inspection decoded its pictures.
    if (!result.assembly.primary.framesPerSecond)
      result.assembly.primary.framesPerSecond = damaged.outcome.report.framesPerSecond;
    if (result.assembly.failure != AssemblyReport::Failure::None) {
      result.ending = RetryResult::Ending::Failed;
      result.why = "the passes could not be assembled (" + result.assembly.why + "); " + Name(file) +
                   " is kept as captured";
      break;
    }
    left = result.assembly.assembled;
  }
  const bool mended = result.ending != RetryResult::Ending::CutShort &&
                      result.ending != RetryResult::Ending::Failed && result.passes > 0 &&
                      result.assembly.packetsRecovered + result.assembly.packetsReplaced > 0;
  if (mended) {
    CaptureJournal journal(file.parent_path());
    const std::uintmax_t size = fs::file_size(assembling, ec);
    if (!ec && zelto::platform::FlushFileToDisk(assembling) && journal.Replacing(Name(file), size).empty() &&
        (fs::rename(assembling, file, ec), !ec)) {
      result.replaced = true;
      journal.Complete(Name(file));
    } else {
      result.ending = RetryResult::Ending::Failed;
      result.why = "the assembled file could not replace " + Name(file) + "; it is kept as captured";
    }
  }
  fs::remove(assembling, ec);
  if (!keepPasses)
    for (const fs::path& pass : passes) fs::remove(pass, ec);
  // What the file holds now, read as every capture file is.
  if (result.replaced) damaged = InspectCaptureFile(damaged.file);
  if (result.ending == RetryResult::Ending::Damaged && damaged.Inspected() && !damaged.Damaged())
    result.ending = RetryResult::Ending::Whole;
  Tell(damaged, result);
  return result;
}

std::string CaptureRetry::CapturePass(const fs::path& file, std::uint32_t inPoint, std::uint64_t bytes,
                                      const fs::path& to, bool* interrupted) {
  ZeltoVideoDevice& device = session.Device();
  std::error_code ec;
  const fs::path folder = file.parent_path() / kPassFolder;
  fs::create_directories(folder, ec);
  const fs::path made = folder / "pass-001-01.zlt";
  fs::remove(made, ec);  // what a killed retry left
  fs::remove(to, ec);
  const OxString wideFolder(zelto::platform::WidePath(folder).c_str());
  OxUnique::GetInstance().SetCaptureFolder(wideFolder);
  _OxBatchCapturingParam param;
  param.folderPath = wideFolder;
  param.fileBaseName = OxString(L"pass");
  param.firstFileNumber = 1;
  _OxBatchCapturingItem item;
  item.inPoint = inPoint;
  item.outPoint = inPoint + static_cast<std::uint32_t>(bytes * 100 / kStreamBytesPerSecond) + 100;
  pump.Drain();
  std::vector<_OxBatchCapturingItem> items{item};
  device.SetBatchCapturingList(param, items);
  device.StartBatchCapturing();
  std::string problem;
  bool ended = false;
  // A seek across the tape and the read itself, with room to spare.
  const double limit = 600.0 + 3.0 * static_cast<double>(bytes) / kStreamBytesPerSecond;
  const std::uint64_t began = GetTickCount64();
  for (;;) {
    const EventPump::Outcome outcome = pump.Until(
        [&](const FeedEvent* e) {
          if (!e || e->kind != FeedEvent::Kind::Capture) return false;
          if (e->capture == OX_CAPTURING_ERROR_STOP) problem = CapturingErrorName(e->error);
          ended = e->capture == OX_CAPTURING_ERROR_STOP || e->capture == OX_CAPTURING_COMPLETE_BATCH;
          return ended;
        },
        OnProcessClock(0.25));
    if (outcome == EventPump::Outcome::Interrupted) *interrupted = true;
    if (ended || *interrupted || FileSize(zelto::platform::Utf8FromPath(made)) >= bytes) break;
    if (outcome == EventPump::Outcome::OutputFailed) {
      problem = "the output could not be written";
      break;
    }
    if (static_cast<double>(GetTickCount64() - began) / 1000.0 > limit) {
      problem = "the camcorder did not finish the read in time";
      break;
    }
  }
  device.StopBatchCapturing();  // the driver closes the file as it stops
  if (problem.empty() && !*interrupted && FileSize(zelto::platform::Utf8FromPath(made)) == 0)
    problem = "the camcorder wrote no file";
  if (problem.empty() && !*interrupted) {
    fs::rename(made, to, ec);
    if (ec) problem = "the pass could not be moved beside " + Name(file);
  }
  fs::remove(made, ec);
  fs::remove(folder, ec);  // only when empty
  return problem;
}

void CaptureRetry::Tell(const FileInspection& file, const RetryResult& result) {
  const AssemblyReport& a = result.assembly;
  const std::string name = Name(zelto::platform::PathFromUtf8(file.file));
  if (report.Json()) {
    nlohmann::ordered_json j = report.Object("retry");
    j["file"] = file.file;
    j["result"] = EndingWord(result.ending);
    if (!result.why.empty()) j["reason"] = result.why;
    j["passes"] = result.passes;
    j["replaced"] = result.replaced;
    nlohmann::ordered_json fates = nlohmann::ordered_json::array();
    for (std::size_t k = 0; k < a.passes.size(); ++k) {
      nlohmann::ordered_json f{{"pass", k + 2}, {"fate", FateWord(a.passes[k].fate)}};
      if (!a.passes[k].why.empty()) f["reason"] = a.passes[k].why;
      fates.push_back(f);
    }
    j["passFates"] = fates;
    nlohmann::ordered_json repairs = nlohmann::ordered_json::array();
    for (const auto& r : a.repairs) {
      nlohmann::ordered_json o{{"firstByte", r.firstByte}, {"endByte", r.endByte}, {"pass", r.pass},
                               {"packetsRecovered", r.packetsRecovered}, {"packetsReplaced", r.packetsReplaced}};
      o["time"] = r.clock ? nlohmann::ordered_json(zelto::streamcheck::TimeCodeText(*r.clock, a.primary.framesPerSecond))
                          : nlohmann::ordered_json();
      repairs.push_back(o);
    }
    j["repairs"] = repairs;
    j["remaining"] = file.Inspected() ? DamageJson(file.outcome.report) : nlohmann::ordered_json();
    report.Print(j);
    return;
  }
  Console& console = report.Out();
  if (result.passes > 0 && a.failure == AssemblyReport::Failure::None)
    for (const std::string& line : zelto::streamcheck::AssemblyReportLines(a)) console.Line("  " + line);
  std::string line = name + ": ";
  switch (result.ending) {
    case RetryResult::Ending::Whole:
      line += "repaired, whole after " + Count(result.passes, "more pass", "more passes");
      break;
    case RetryResult::Ending::Damaged:
      line += "still damaged after " + Count(result.passes, "more pass", "more passes") +
              (result.replaced ? " (what they mended is kept)" : "");
      break;
    default: line += result.why; break;
  }
  if (keepPasses && result.passes > 0)
    line += "; passes kept as " + Name(PassPath(name, 2)) +
            (result.passes > 1 ? " to " + Name(PassPath(name, result.passes + 1)) : "");
  console.Line(line);
}

}  // namespace zelto::app
