#include "app/CaptureCommand.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>

#include "app/CapturePlan.h"
#include "app/CaptureReport.h"
#include "app/DeckButtons.h"
#include "app/EventPump.h"
#include "app/ExitCode.h"
#include "app/Names.h"
#include "app/Session.h"
#include "app/TapeCaptureCommand.h"
#include "host/foundation/OxFolder.h"
#include "host/foundation/OxUnique.h"
#include "platform/PlatformExtras.h"
#include "platform/win32.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;
using namespace std::chrono_literals;

namespace {

// Blank tape this long (process clock) after the picture ends a direct capture.
constexpr std::uint64_t kRecordingEndsAfterMs = 5000;

std::string TimeCodeSeconds(const OxTimeCode& code) {
  return TimeCodeText(code).substr(0, 8);  // HH:MM:SS: the library's figures count whole seconds
}

class CaptureRun {
public:
  CaptureRun(Session& session, const CaptureOptions& options, Console& console)
      : session(session), device(session.Device()), options(options), console(console),
        pump(device, session.Feed(), console, false), report(console, options.json), batch(options.kind == CaptureOptions::Kind::Batch),
        started(std::chrono::steady_clock::now()) {}

  int Run() {
    if (int code = Plan(); code != kExitOk) return code;
    pump.Drain();
    if (int code = Start(); code != kExitOk) return code;
    const int code = Follow();
    return Finish(code);
  }

private:
  // The folder, the names, the sections: everything that can be refused
  // before the camcorder moves.
  int Plan() {
    if (std::string problem = BaseNameProblem(options.name); !problem.empty()) return Fail(kExitUsage, problem);
    std::error_code ec;
    std::filesystem::create_directories(options.folder, ec);
    if (!std::filesystem::is_directory(options.folder))
      return Fail(kExitUsage, "cannot use the capture folder " + PathText(options.folder) + (ec ? ": " + ec.message() : ""));
    folder = std::filesystem::absolute(options.folder, ec);
    base = options.name;
    first = options.first;
    if (batch) {
      const std::optional<zelto::sim::Cassette> cassette = session.CurrentCassette();
      try {
        for (const std::string& text : options.sections) sections.push_back(ResolveSection(text, cassette));
      } catch (const std::invalid_argument& e) {
        return Fail(kExitUsage, e.what());
      }
    }
    const std::vector<std::string> taken =
        ExistingCaptureFiles(folder, base, batch ? std::optional<int>(first) : std::nullopt, sections.size());
    if (!taken.empty()) {
      if (!options.nextFree) {
        std::string list;
        for (std::size_t i = 0; i < taken.size() && i < 3; ++i) list += (i ? ", " : "") + taken[i];
        if (taken.size() > 3) list += ", ...";
        return Fail(kExitWouldOverwrite, PathText(folder) + " holds files this capture would write: " + list +
                                             " (choose another --name, or --next-free)");
      }
      if (batch) {
        const std::optional<int> free = FreeFirstNumber(folder, base, first, sections.size());
        if (!free) return Fail(kExitWouldOverwrite, "no free file number for " + base + " in " + PathText(folder));
        first = *free;
      } else {
        const std::optional<std::string> free = FreeBaseName(folder, base);
        if (!free) return Fail(kExitWouldOverwrite, "no free name for " + base + " in " + PathText(folder));
        base = *free;
      }
    }
    for (std::size_t i = 0; i < sections.size(); ++i) {
      if (sections[i].cameraOut)
        Note("section " + std::to_string(i + 1) + " (" + sections[i].written +
             "): the camcorder captures to the end of its recording, at " +
             Duration(*sections[i].cameraOut / 100.0));
    }
    const _OxVideoDeviceState state = device.GetDeviceState();
    const std::string refusal =
        batch ? DeckRefusal(DeckAction::Seek, state, device.GetMediaInfo(), device.GetCamcorderMode())
        : state == OX_DEVICE_STATE_PLAY
            ? std::string()
            : DeckRefusal(DeckAction::Play, state, device.GetMediaInfo(), device.GetCamcorderMode());
    if (!refusal.empty()) return Fail(kExitRefused, refusal);
    return kExitOk;
  }

  int Start() {
    // The library looks for the files it is told about in the capture folder.
    OxUnique::GetInstance().SetCaptureFolder(OxString(zelto::platform::WidePath(folder).c_str()));
    const OxString wideFolder(zelto::platform::WidePath(folder).c_str());
    const OxString wideBase(zelto::platform::FromUtf8(base).c_str());
    if (batch) {
      _OxBatchCapturingParam param;
      param.folderPath = wideFolder;
      param.fileBaseName = wideBase;
      param.firstFileNumber = first;
      param.splitKind = static_cast<std::int32_t>(options.split.kind);
      param.splitSizeMegabytes = options.split.megabytes;
      param.splitDurationFrames = options.split.frames;
      std::vector<_OxBatchCapturingItem> items;
      for (const PlannedSection& s : sections) {
        _OxBatchCapturingItem item;
        item.inPoint = s.inPoint;
        item.outPoint = s.cameraOut.value_or(s.outPoint);
        items.push_back(item);
      }
      device.SetBatchCapturingList(param, items);
      device.StartBatchCapturing();
      Event("start", "batch of " + Count(sections.size(), "section", "sections") + " into " + PathText(folder) + ", files " +
                         base + "-" + Number3(WrapFileNumber(first)) + "-01.zlt on",
            {{"folder", PathText(folder)}, {"base", base}, {"first", first}, {"sections", sections.size()}});
    } else {
      _OxDirectCapturingParam param;
      param.folderPath = wideFolder;
      param.fileBaseName = wideBase;
      param.splitKind = static_cast<std::int32_t>(options.split.kind);
      param.splitSizeMegabytes = options.split.megabytes;
      param.splitDurationFrames = options.split.frames;
      device.SetDirectCapturingStructure(param);
      device.StartDirectCapturing();
      if (device.GetDeviceState() != OX_DEVICE_STATE_PLAY) PressDeckButton(device, DeckAction::Play);
      sawPlay = device.GetDeviceState() == OX_DEVICE_STATE_PLAY;
      Event("start", "direct capture into " + PathText(folder) + ", files " + base + "-01.zlt on",
            {{"folder", PathText(folder)}, {"base", base}});
    }
    capturing = true;
    const std::string problem = session.StateProblem();
    if (!problem.empty()) return Fail(kExitStateFile, "the camcorder did not keep the command: " + problem);
    return kExitOk;
  }

  // Until the capture ends: events as they come, a progress tick between.
  int Follow() {
    // Ticks on the camcorder's clock (ZELTO_TIME_SCALE speeds it), and
    // sooner when a direct capture's seconds are nearly reached.
    const double scale = zelto::platform::TimeScale();
    for (;;) {
      double tickSeconds = options.json ? 1.0 : 0.5;
      if (!batch && options.seconds) tickSeconds = std::clamp(*options.seconds - CapturedSeconds(), 0.02, tickSeconds);
      const auto tick = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(tickSeconds * scale));
      const EventPump::Outcome outcome = pump.Until([&](const FeedEvent* e) { return e && Handle(*e); }, tick);
      if (outcome == EventPump::Outcome::Interrupted) return kExitInterrupted;
      if (outcome == EventPump::Outcome::OutputFailed || console.OutputFailed()) return kExitOutputFailed;
      if (outcome == EventPump::Outcome::Done) return ended;
      Progress();
      if (!batch && DirectDone()) return kExitOk;
    }
  }

  // True when the capture is over; `ended` says how.
  bool Handle(const FeedEvent& e) {
    if (e.kind == FeedEvent::Kind::Capture) {
      switch (e.capture) {
        case OX_CAPTURING_CREATE_FILE:
          files.push_back(e.file);
          Event("file-created", e.file, {{"file", e.file}});
          return false;
        case OX_CAPTURING_COMPLETE_FILE:
          ++completed;
          Event("file-complete", e.file, {{"file", e.file}});
          return false;
        case OX_CAPTURING_SEARCH_IN: Event("searching", SectionText(), {{"section", sectionsDone + 1}}); return false;
        case OX_CAPTURING_SEARCH_OUT: Event("found", SectionText(), {{"section", sectionsDone + 1}}); return false;
        case OX_CAPTURING_COMPLETE_SECTION:
          ++sectionsDone;
          Event("section-complete", "section " + std::to_string(sectionsDone) + " of " + std::to_string(sections.size()),
                {{"section", sectionsDone}});
          return false;
        case OX_CAPTURING_COMPLETE_BATCH:
          Event("batch-complete", Count(sectionsDone, "section", "sections"), {{"sections", sectionsDone}});
          ended = kExitOk;
          return true;
        case OX_CAPTURING_ERROR_STOP:
          error = e.error;
          Event("error", CapturingErrorName(e.error), {{"error", static_cast<int>(e.error)},
                                                       {"reason", CapturingErrorName(e.error)}});
          ended = kExitCaptureFailed;
          return true;
      }
      return false;
    }
    if (batch) return false;
    // A direct capture ends where the recording ends: the picture gone for
    // a while, or the deck stopped (the end of the tape).
    if (e.state == OX_DEVICE_STATE_PLAY) sawPlay = true;
    if (e.Is(OX_NOTIFY_STREAMING_ON)) {
      streaming = true;
      sawStream = true;
    } else if (e.Is(OX_NOTIFY_STREAMING_OFF)) {
      streaming = false;
      streamOffAt = GetTickCount64();
    } else if (sawPlay && e.state == OX_DEVICE_STATE_STOP) {
      Note("the deck stopped");
      ended = kExitOk;
      return true;
    }
    return false;
  }

  bool DirectDone() {
    if (options.seconds && CapturedSeconds() >= *options.seconds) return true;
    if (sawStream && !streaming && GetTickCount64() - streamOffAt >= kRecordingEndsAfterMs) {
      Note("the recording has ended");
      return true;
    }
    return false;
  }

  double CapturedSeconds() const { return TapeSeconds(files); }

  void Progress() {
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::optional<unsigned> percent;
    double captured = 0;
    std::optional<double> total;
    std::uint64_t freeBytes = 0;
    unsigned fileCount = static_cast<unsigned>(files.size());
    if (batch) {
      _OxBatchCapturingProgress p;
      device.GetBatchCapturingProgress(p);
      // The library's figure counts a finished section twice until the next
      // search begins; a person is shown the most reached so far.
      shownPercent = std::max(shownPercent, p.percent);
      percent = shownPercent;
      captured = CapturedSeconds();
      std::uint64_t totalHundredths = 0;
      for (const PlannedSection& s : sections) totalHundredths += s.cameraOut.value_or(s.outPoint) - s.inPoint;
      total = static_cast<double>(totalHundredths) / 100.0;
      freeBytes = p.freeDiskSpace;
      capturedText = TimeCodeSeconds(p.capturedTime) + " / " + TimeCodeSeconds(p.totalTime);
    } else {
      _OxDirectCapturingProgress p;
      device.GetDirectCapturingProgress(p);
      captured = CapturedSeconds();
      if (options.seconds) {
        total = *options.seconds;
        percent = static_cast<unsigned>(std::min(100.0, captured * 100.0 / *options.seconds));
      }
      freeBytes = p.freeDiskSpace;
      fileCount = p.filesCreated;
      capturedText = Duration(captured) + (total ? " / " + Duration(*total) : "");
    }
    const double rate = wall > 0 ? captured * kStreamBytesPerSecond / wall : 0;  // bytes a second
    std::optional<double> left;
    if (total && captured > 0 && rate > 0) left = (*total - captured) * kStreamBytesPerSecond / rate;
    if (options.json) {
      nlohmann::ordered_json j = report.Object("progress");
      j["percent"] = percent ? nlohmann::ordered_json(*percent) : nlohmann::ordered_json();
      j["capturedSeconds"] = captured;
      j["totalSeconds"] = total ? nlohmann::ordered_json(*total) : nlohmann::ordered_json();
      j["files"] = fileCount;
      j["freeBytes"] = freeBytes;
      j["bytesPerSecond"] = static_cast<std::uint64_t>(rate);
      j["secondsLeft"] = left ? nlohmann::ordered_json(std::max(0.0, *left)) : nlohmann::ordered_json();
      report.Print(j);
      return;
    }
    std::ostringstream line;
    if (percent) line << *percent << "%  ";
    line << capturedText << "  files " << fileCount << "  free " << Bytes(static_cast<double>(freeBytes)) << "  "
         << Bytes(rate) << "/s";
    if (left) line << "  left " << Duration(std::max(0.0, *left));
    console.Status(line.str());
  }

  // Ends the capture the way the library ends it, then says what was made.
  int Finish(int code) {
    if (capturing) {
      if (batch) {
        device.StopBatchCapturing();  // stops the deck and the driver, then pauses
      } else {
        device.AbortCapturing();
        // The exit waits only for the first file a capture completes; the
        // camcorder's last report comes after the abort, and only while the
        // capture is on does it reach the host: wait for it first (as long
        // as the exit would).
        pump.Until([&](const FeedEvent* e) { return (e && Handle(*e)) || completed >= files.size(); },
                   OnProcessClock(3.0));
        device.ExitDirectCapturing();
        if (device.GetDeviceState() != OX_DEVICE_STATE_STOP) PressDeckButton(device, DeckAction::Stop);
      }
    }
    // What the capture reported while it was taken down.
    pump.Until(
        [&](const FeedEvent* e) {
          if (e && e->kind == FeedEvent::Kind::Capture) Handle(*e);
          return false;
        },
        0ms);
    console.Status("");
    CollectFiles();
    Summary(code);
    const std::string kept = Count(files.size(), "file", "files") + " kept";
    if (code == kExitInterrupted) console.Error("stopped by Ctrl-C; " + kept);
    if (code == kExitCaptureFailed) console.Error("the capture stopped: " + CapturingErrorName(error) + "; " + kept);
    return code;
  }

  // Every file of the capture's names in the folder: none was there before
  // it started, and a part the camcorder finished after the library's
  // capture had ended is reported to nobody.
  void CollectFiles() {
    const std::vector<std::string> names =
        ExistingCaptureFiles(folder, base, batch ? std::optional<int>(first) : std::nullopt, sections.size());
    for (const std::string& name : names) {
      const std::string text = zelto::platform::Utf8FromPath(folder / zelto::platform::PathFromUtf8(name));
      if (std::find(files.begin(), files.end(), text) == files.end()) files.push_back(text);
    }
    std::sort(files.begin(), files.end());
  }

  void Summary(int code) {
    if (options.json) {
      nlohmann::ordered_json j = report.Object("summary");
      j["result"] = code == kExitOk ? "complete" : code == kExitInterrupted ? "interrupted" : "failed";
      j["files"] = CaptureReport::FileArray(files);
      report.Print(j);
      return;
    }
    report.FileLines(folder, files);
  }

  std::string SectionText() const {
    const std::size_t k = sectionsDone;
    if (k >= sections.size()) return "section " + std::to_string(k + 1);
    return "section " + std::to_string(k + 1) + " of " + std::to_string(sections.size()) + " (" +
           sections[k].written + ")";
  }

  static std::string Number3(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d", n);
    return text;
  }

  void Event(const char* what, const std::string& detail, const nlohmann::ordered_json& fields) {
    report.Event(what, detail, fields);
  }

  void Note(const std::string& text) { report.Note(text); }

  int Fail(int code, const std::string& text) {
    console.Error(text);
    return code;
  }

  Session& session;
  ZeltoVideoDevice& device;
  const CaptureOptions& options;
  Console& console;
  EventPump pump;
  CaptureReport report;
  const bool batch;
  const std::chrono::steady_clock::time_point started;

  std::filesystem::path folder;
  std::string base;
  int first = 1;
  std::vector<PlannedSection> sections;
  bool capturing = false;
  std::vector<std::string> files;
  std::size_t completed = 0;  // files reported complete
  unsigned sectionsDone = 0;
  bool streaming = false;
  bool sawStream = false;
  bool sawPlay = false;  // a stop before the deck played is old news
  std::uint64_t streamOffAt = 0;
  int ended = kExitOk;
  _OxCapturingErrorID error = OX_CAPTURING_ERROR_NONE;
  std::string capturedText;
  unsigned shownPercent = 0;
};

}  // namespace

int RunCapture(Session& session, const CaptureOptions& options, Console& console) {
  if (options.kind == CaptureOptions::Kind::Tape) return RunTapeCapture(session, options, console);
  return CaptureRun(session, options, console).Run();
}

}  // namespace zelto::app
