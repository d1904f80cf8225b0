#include "app/TapeCaptureCommand.h"

#include <algorithm>
#include <chrono>
#include <sstream>

#include "app/CapturePlan.h"
#include "app/CaptureReport.h"
#include "app/DeckButtons.h"
#include "app/EventPump.h"
#include "app/ExitCode.h"
#include "app/Names.h"
#include "app/Session.h"
#include "host/foundation/OxUnique.h"
#include "platform/PlatformExtras.h"
#include "platform/win32.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;

namespace {

// Written into the progress record before it is read: the library fills
// the captured time only while it tracks a run, so a record that still
// holds this after the start tells that no run began.
constexpr const wchar_t* kNotWritten = L"23595924";

std::string Seconds(std::uint32_t ms) {
  std::ostringstream text;
  text << ms / 1000.0 << " s";
  return text.str();
}

class TapeRun {
public:
  TapeRun(Session& session, const CaptureOptions& options, Console& console)
      : session(session), device(session.Device()), options(options), console(console),
        pump(device, session.Feed(), console, false), report(console, options.json) {}

  int Run() {
    if (int code = Plan(); code != kExitOk) return code;
    pump.Drain();
    if (int code = Start(); code != kExitOk) return Finish(code);
    return Finish(Follow());
  }

private:
  // The folder, the name and the cassette: everything that can be refused
  // before the tape moves.
  int Plan() {
    if (std::string problem = BaseNameProblem(options.name); !problem.empty()) return Fail(kExitUsage, problem);
    std::error_code ec;
    std::filesystem::create_directories(options.folder, ec);
    if (!std::filesystem::is_directory(options.folder))
      return Fail(kExitUsage,
                  "cannot use the capture folder " + PathText(options.folder) + (ec ? ": " + ec.message() : ""));
    folder = std::filesystem::absolute(options.folder, ec);
    base = options.name;
    if (const std::vector<std::string> taken = ExistingSceneFiles(folder, base); !taken.empty()) {
      if (!options.nextFree) {
        std::string list;
        for (std::size_t i = 0; i < taken.size() && i < 3; ++i) list += (i ? ", " : "") + taken[i];
        if (taken.size() > 3) list += ", ...";
        return Fail(kExitWouldOverwrite, PathText(folder) + " holds files this capture would write: " + list +
                                             " (choose another --name, or --next-free)");
      }
      const std::optional<std::string> free = FreeSceneBaseName(folder, base);
      if (!free) return Fail(kExitWouldOverwrite, "no free name for " + base + " in " + PathText(folder));
      base = *free;
    }
    const _OxMediaInfo media = device.GetMediaInfo();
    // Judged as a seek is: the run winds the tape from whatever it does.
    if (std::string refusal =
            DeckRefusal(DeckAction::Seek, device.GetDeviceState(), media, device.GetCamcorderMode());
        !refusal.empty())
      return Fail(kExitRefused, refusal);
    if (media == OX_MEDIA_WRITE_PROTECTED)
      return Fail(kExitRefused,
                  "the cassette is write-protected, and the camcorder ends a whole-tape capture at once on such a "
                  "cassette; capture its scenes with capture batch");
    return kExitOk;
  }

  int Start() {
    OxUnique& settings = OxUnique::GetInstance();
    // The library looks for the files it is told about in the capture folder.
    const OxString wideFolder(zelto::platform::WidePath(folder).c_str());
    settings.SetCaptureFolder(wideFolder);
    // Longer than the host's 10 s: a camcorder's owner leaves longer blank
    // stretches between recordings than that (the default cassette does).
    settings.SetScaptureStreamTimeOut(options.streamTimeoutMs.value_or(kTapeStreamTimeoutMs));
    if (options.pollMs) settings.SetPollingTime(*options.pollMs);
    streamTimeoutMs = settings.GetScaptureStreamTimeOut();
    pollMs = settings.GetPollingTime();

    _OxBatchCapturingParam param;
    param.folderPath = wideFolder;
    param.fileBaseName = OxString(zelto::platform::FromUtf8(base).c_str());
    param.firstFileNumber = 1;
    param.splitKind = static_cast<std::int32_t>(options.split.kind);
    param.splitSizeMegabytes = options.split.megabytes;
    param.splitDurationFrames = options.split.frames;
    device.SetupScapturing(param);
    device.StartScapturing();
    running = true;

    OxTimeCode notWritten;
    notWritten.SetTimeCode(kNotWritten);
    _OxScapturingProgress progress;
    progress.capturedTime = notWritten;
    device.GetScapturingProgress(progress);
    if (progress.capturedTime == notWritten) {
      running = false;
      return Fail(kExitDeviceFailed, "the camcorder's whole-tape capture did not start");
    }
    report.Event("start",
                 "the whole tape into " + PathText(folder) + ", files " + base + "-001-01.zlt on; it ends " +
                     Seconds(streamTimeoutMs) + " after the last picture (polls every " + Seconds(pollMs) + ")",
                 {{"folder", PathText(folder)},
                  {"base", base},
                  {"streamTimeoutMs", streamTimeoutMs},
                  {"pollMs", pollMs}});
    const std::string problem = session.StateProblem();
    if (!problem.empty()) return Fail(kExitStateFile, "the camcorder did not keep the command: " + problem);
    return kExitOk;
  }

  // Where the simulated tape tells: whether the head stands at its end
  // (within a second of tape: the deck stops on its last tracks).
  bool AtTheEndOfTheTape() {
    const std::optional<TapePosition> at = session.Position();
    return at && at->lengthTracks > 0 && at->track + 300 >= at->lengthTracks;
  }

  // Whether the stream had been off for the time-out when the run's end was
  // heard, judged by when the two were heard (not when this thread got to
  // them) on the camcorder's clock, with a poll's worth of slack: the run
  // judges it at its polls.
  bool PictureGoneForTheTimeOut(std::chrono::system_clock::time_point endHeard) const {
    if (streaming || !streamOffHeard) return false;
    const double realMs = std::chrono::duration<double, std::milli>(endHeard - *streamOffHeard).count();
    return realMs / zelto::platform::TimeScale() + pollMs >= streamTimeoutMs;
  }
  // Whether the capture folder's disk has no room for another second of tape.
  bool DiskFull() const {
    std::error_code ec;
    const std::filesystem::space_info space = std::filesystem::space(folder, ec);
    return !ec && space.available < 2'000'000;
  }

  // Until the run ends: events as they come, a progress tick between.
  int Follow() {
    const auto tick = OnProcessClock(options.json ? 1.0 : 0.5);
    for (;;) {
      const EventPump::Outcome outcome = pump.Until([&](const FeedEvent* e) { return e && Handle(*e); }, tick);
      if (outcome == EventPump::Outcome::Interrupted) return kExitInterrupted;
      if (outcome == EventPump::Outcome::OutputFailed || console.OutputFailed()) return kExitOutputFailed;
      if (outcome == EventPump::Outcome::Done) return ended;
      Progress();
    }
  }

  // True when the run is over; `ended` says how.
  bool Handle(const FeedEvent& e) {
    if (e.kind == FeedEvent::Kind::Scapturing) {
      switch (e.scapturing) {
        case OX_SCAPTURING_CREATE_FILE:
          files.push_back(e.file);
          report.Event("file-created", e.file, {{"file", e.file}, {"number", files.size()}});
          return false;
        case OX_SCAPTURING_COMPLETE:
          // The library also calls a run complete that the camcorder ended
          // on an error of its own (a full disk, a file it cannot write):
          // only a picture gone for the whole time-out is the tape's end.
          if (!PictureGoneForTheTimeOut(e.at)) {
            error = DiskFull() ? OX_CAPTURING_ERROR_DISK_FULL : OX_CAPTURING_ERROR_UNKNOWN;
            report.Event("error", CapturingErrorName(error),
                         {{"error", static_cast<int>(error)}, {"reason", CapturingErrorName(error)}});
            ended = kExitCaptureFailed;
            return true;
          }
          report.Event("complete", "no picture for longer than " + Seconds(streamTimeoutMs),
                       {{"files", files.size()}});
          ended = kExitOk;
          return true;
        case OX_SCAPTURING_ERROR_STOP:
          // The library reads a deck stopped by the tape's end as a deck
          // that stopped under the capture; every scene is in by then.
          if (e.error == OX_CAPTURING_ERROR_DECK_STOPPED && AtTheEndOfTheTape()) {
            tapeEnded = true;
            report.Event("complete", "the tape ended", {{"files", files.size()}});
            ended = kExitOk;
            return true;
          }
          error = e.error;
          report.Event("error", CapturingErrorName(e.error),
                       {{"error", static_cast<int>(e.error)}, {"reason", CapturingErrorName(e.error)}});
          ended = kExitCaptureFailed;
          return true;
        case OX_SCAPTURING_COMPLETE_SETUP: return false;
      }
      return false;
    }
    if (e.state && e.state != deckState) {
      deckState = e.state;
      report.Event("deck", DeviceStateName(*e.state), {{"state", DeviceStateName(*e.state)}});
    }
    if (e.Is(OX_NOTIFY_STREAMING_ON)) {
      streaming = true;
    } else if (e.Is(OX_NOTIFY_STREAMING_OFF)) {
      streaming = false;
      streamOffAt = GetTickCount64();
      streamOffHeard = e.at;
    }
    return false;
  }

  // What the run is doing, for the progress line.
  std::string Phase() const {
    if (streaming) return "capturing";
    if (deckState == OX_DEVICE_STATE_REWIND) return "rewinding";
    if (files.empty()) {
      if (deckState == OX_DEVICE_STATE_PLAY) return "playing, no picture yet";
      return deckState == OX_DEVICE_STATE_STOP ? "rewound, about to play" : "waiting for the deck";
    }
    std::ostringstream text;
    text.precision(1);
    text << "no picture for " << std::fixed << static_cast<double>(GetTickCount64() - streamOffAt) / 1000.0 << " s";
    return text.str();
  }

  void Progress() {
    _OxScapturingProgress p;
    device.GetScapturingProgress(p);
    const std::string current = files.empty() ? std::string() : zelto::platform::ToUtf8(p.currentFile.GetStdString());
    const std::string captured = TimeCodeText(p.capturedTime).substr(0, 8);  // whole seconds: HH:MM:SS
    if (options.json) {
      nlohmann::ordered_json j = report.Object("progress");
      j["files"] = files.size();
      j["currentFile"] = current.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(current);
      j["capturedTime"] = captured;
      j["freeBytes"] = p.freeDiskSpace;
      j["streaming"] = streaming;
      report.Print(j);
      return;
    }
    std::ostringstream line;
    line << "file " << files.size();
    if (!current.empty()) line << "  " << current;
    line << "  captured " << captured << "  free " << Bytes(static_cast<double>(p.freeDiskSpace)) << "  "
         << Phase();
    console.Status(line.str());
  }

  // Ends the run the way the library ends it, then says what was made.
  int Finish(int code) {
    // A run that ended by itself is let go; one still going (Ctrl-C) is
    // aborted and its deck stopped; after a removal there is none.
    if (running) device.StopScapturing();
    console.Status("");
    CollectFiles();
    Summary(code);
    const std::string kept = Count(files.size(), "file", "files") + " kept";
    if (code == kExitInterrupted) console.Error("stopped by Ctrl-C; " + kept);
    if (code == kExitCaptureFailed)
      console.Error("the tape capture stopped: " + CapturingErrorName(error) + "; " + kept);
    return code;
  }

  // Every scene file of this base in the folder: none was there before the
  // run began, and a file the library did not get to report is still made.
  void CollectFiles() {
    if (folder.empty()) return;
    for (const std::string& name : ExistingSceneFiles(folder, base)) {
      const std::string text = zelto::platform::Utf8FromPath(folder / zelto::platform::PathFromUtf8(name));
      if (std::find(files.begin(), files.end(), text) == files.end()) files.push_back(text);
    }
    std::sort(files.begin(), files.end());
  }

  std::string Ending(int code) const {
    switch (code) {
      case kExitOk:
        if (tapeEnded) return "the tape ended";
        return "the recordings ended: no picture for longer than " + Seconds(streamTimeoutMs);
      case kExitInterrupted: return "stopped by Ctrl-C";
      case kExitCaptureFailed: return "stopped: " + CapturingErrorName(error);
      default: return "stopped";
    }
  }

  void Summary(int code) {
    if (!running) return;
    const double seconds = TapeSeconds(files);
    if (options.json) {
      nlohmann::ordered_json j = report.Object("summary");
      j["result"] = code == kExitOk ? "complete" : code == kExitInterrupted ? "interrupted" : "failed";
      j["ended"] = Ending(code);
      j["capturedSeconds"] = seconds;
      j["files"] = CaptureReport::FileArray(files);
      report.Print(j);
      return;
    }
    report.FileLines(folder, files);
    console.Line("captured " + Duration(seconds) + " of tape in " + Count(files.size(), "file", "files") + "; " +
                 Ending(code));
  }

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

  std::filesystem::path folder;
  std::string base;
  DWORD streamTimeoutMs = 0;
  DWORD pollMs = 0;
  bool tapeEnded = false;
  bool running = false;
  std::vector<std::string> files;
  std::optional<_OxVideoDeviceState> deckState;
  bool streaming = false;
  std::uint64_t streamOffAt = 0;
  std::optional<std::chrono::system_clock::time_point> streamOffHeard;
  int ended = kExitOk;
  _OxCapturingErrorID error = OX_CAPTURING_ERROR_NONE;
};

}  // namespace

int RunTapeCapture(Session& session, const CaptureOptions& options, Console& console) {
  return TapeRun(session, options, console).Run();
}

}  // namespace zelto::app
