#include "app/TapeCaptureCommand.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>

#include "app/CaptureFiles.h"
#include "app/CaptureFolder.h"
#include "app/CaptureInspection.h"
#include "app/CaptureJournal.h"
#include "app/CapturePlan.h"
#include "app/CaptureReport.h"
#include "app/CaptureRetry.h"
#include "app/CaptureSplit.h"
#include "app/DeckButtons.h"
#include "app/DeckTakeover.h"
#include "app/EventPump.h"
#include "app/ExitCode.h"
#include "app/Interrupt.h"
#include "app/Names.h"
#include "app/SceneDamage.h"
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

std::string SecondsText(std::uint32_t ms) {
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
    if (int code = Plan(); code != kExitOk) {
      folderGuard.RemoveIfMadeAndEmpty();
      return code;
    }
    pump.Drain();
    if (int code = Start(); code != kExitOk) return Finish(code);
    return Finish(Follow());
  }

private:
  // The folder, the name and the cassette: everything that can be refused
  // before the tape moves.
  int Plan() {
    if (std::string problem = BaseNameProblem(options.name); !problem.empty()) return Fail(kExitUsage, problem);
    if (std::string problem = folderGuard.Prepare(options.folder); !problem.empty()) return Fail(kExitUsage, problem);
    folder = folderGuard.Path();
    for (const std::string& name : CaptureJournal::Unfinished(folder))
      report.Note(name + " in this folder was left unfinished by an earlier capture");
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
    // The run rewinds: its first scene is the tape's.
    split = std::make_unique<CaptureSplit>(session, options.split, std::nullopt);
    if (const std::string note = split->Note(); !note.empty()) report.Note(note);
    CaptureNames names;
    names.kind = CaptureNames::Kind::Tape;
    names.base = base;
    if (std::string problem = files.Begin(folder, names); !problem.empty()) return Fail(kExitUsage, problem);
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
    param.splitKind = static_cast<std::int32_t>(split->Rule().kind);
    param.splitSizeMegabytes = split->Rule().megabytes;
    param.splitDurationFrames = split->Rule().frames;
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
                     SecondsText(streamTimeoutMs) + " after the last picture (polls every " + SecondsText(pollMs) + ")",
                 {{"folder", PathText(folder)},
                  {"base", base},
                  {"streamTimeoutMs", streamTimeoutMs},
                  {"pollMs", pollMs}});
    const std::string problem = session.StateProblem();
    if (!problem.empty()) return Fail(kExitStateFile, "the camcorder did not keep the command: " + problem);
    return kExitOk;
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
  // Until the run ends: events as they come, a progress tick between.
  int Follow() {
    const auto tick = OnProcessClock(options.json ? 1.0 : 0.5);
    for (;;) {
      const EventPump::Outcome outcome = pump.Until([&](const FeedEvent* e) { return e && Handle(*e); }, tick);
      if (outcome == EventPump::Outcome::Interrupted) return kExitInterrupted;
      if (outcome == EventPump::Outcome::OutputFailed || console.OutputFailed()) return kExitOutputFailed;
      if (outcome == EventPump::Outcome::Done) return ended;
      // A button pressed in another terminal ends the run even where the
      // library goes on (a stop during its rewind or its pause before play).
      if (const std::optional<DeckTakeover> by = session.DeckTaken()) {
        endedWords = TakenWords(*by);
        return kExitTakenOver;
      }
      // The library waits for a first picture as long as the tape plays;
      // the time-out holds before it too. A file on disk is a picture whose
      // report is still on its way (a loaded machine).
      if (playingSince && files.Reported() == 0 && !streaming && !streamOffHeard &&
          GetTickCount64() - *playingSince > streamTimeoutMs && !files.AnyOnDisk()) {
        endedWords = "no recording found: no picture for " + SecondsText(streamTimeoutMs) + " of tape from the start";
        return kExitNoRecording;
      }
      Progress();
    }
  }

  // True when the run is over; `ended` says how.
  bool Handle(const FeedEvent& e) {
    if (e.Is(OX_CAPTURING_COMPLETE_FILE)) {
      files.Closed(e.file);
      inspection.Completed(e.file);
      return false;
    }
    if (e.kind == FeedEvent::Kind::Scapturing) {
      switch (e.scapturing) {
        case OX_SCAPTURING_CREATE_FILE:
          files.Created(e.file);
          report.Event("file-created", e.file, {{"file", e.file}, {"number", files.Reported()}});
          return false;
        case OX_SCAPTURING_COMPLETE:
          // The library also calls a run complete that the camcorder ended
          // on an error of its own (a full disk, a file it cannot write):
          // only a picture gone for the whole time-out is the tape's end.
          // A tape that never showed a picture ends at the time-out too.
          if (!PictureGoneForTheTimeOut(e.at) && !(files.Reported() == 0 && !streaming && !streamOffHeard)) {
            const std::string why = folderGuard.WhyNoWrite(session.SimulatedDiskFull().value_or(false));
            error = why == "the disk is full" ? OX_CAPTURING_ERROR_DISK_FULL : OX_CAPTURING_ERROR_UNKNOWN;
            return Failed(why.empty() ? CapturingErrorName(error) : why == "the disk is full" ? why
                                                                     : "a capture file could not be written: " + why);
          }
          if (files.Reported() == 0) {
            endedWords = "no recording found: no picture for longer than " + SecondsText(streamTimeoutMs);
            ended = kExitNoRecording;
            return true;
          }
          endedWords = "the recordings ended: no picture for longer than " + SecondsText(streamTimeoutMs);
          report.Event("complete", "no picture for longer than " + SecondsText(streamTimeoutMs),
                       {{"files", files.Reported()}});
          ended = kExitOk;
          return true;
        case OX_SCAPTURING_ERROR_STOP: {
          error = e.error;
          // The library reads every stop of the deck under the run as an
          // error: the tape's end (every scene is in by then), another
          // command's button, or a transport that gave up.
          const DeckDeparture departure =
              e.error == OX_CAPTURING_ERROR_DECK_STOPPED || e.error == OX_CAPTURING_ERROR_TAPE_EJECTED
                  ? JudgeDeck(DeckAsItStands(session, e.error == OX_CAPTURING_ERROR_TAPE_EJECTED))
                  : DeckDeparture{};
          if (departure.kind == DeckDeparture::Kind::TapeEnded) {
            tapeEnded = true;
            endedWords = departure.words;
            report.Event("complete", departure.words, {{"files", files.Reported()}});
            ended = files.Reported() == 0 ? kExitNoRecording : kExitOk;
            if (ended == kExitNoRecording) endedWords = "no recording found before the end of the tape";
            return true;
          }
          if (departure.kind == DeckDeparture::Kind::TakenOver) {
            endedWords = departure.words;
            ended = kExitTakenOver;
            return true;
          }
          return Failed(CapturingErrorName(e.error));
        }
        case OX_SCAPTURING_COMPLETE_SETUP: return false;
      }
      return false;
    }
    if (e.state && e.state != deckState) {
      deckState = e.state;
      if (deckState == OX_DEVICE_STATE_PLAY && !playingSince) playingSince = GetTickCount64();
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
    if (files.Reported() == 0) {
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
    const std::string current =
        files.Reported() == 0 ? std::string() : zelto::platform::ToUtf8(p.currentFile.GetStdString());
    const std::string captured = TimeCodeText(p.capturedTime).substr(0, 8);  // whole seconds: HH:MM:SS
    if (options.json) {
      nlohmann::ordered_json j = report.Object("progress");
      j["files"] = files.Reported();
      j["currentFile"] = current.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(current);
      j["capturedTime"] = captured;
      j["freeBytes"] = p.freeDiskSpace;
      j["streaming"] = streaming;
      report.Print(j);
      return;
    }
    std::ostringstream line;
    line << "file " << files.Reported();
    if (!current.empty()) line << "  " << current;
    line << "  captured " << captured << "  free " << Bytes(static_cast<double>(p.freeDiskSpace)) << "  "
         << Phase();
    report.Progress(line.str());
  }

  // Ends the run the way the library ends it, then says what was made.
  int Finish(int code) {
    // A run that ended by itself is let go; one still going (Ctrl-C) is
    // aborted and its deck stopped; after a removal there is none.
    if (running) device.StopScapturing();
    console.Status("");
    // Every scene file of this base the run made: none was there before it
    // began, and a file the library did not get to report is still made.
    // Once the run is stopped every file is closed, but after a removal.
    const std::vector<std::string> made = files.Made(running && error != OX_CAPTURING_ERROR_DEVICE_REMOVED);
    if (made.empty()) folderGuard.RemoveIfMadeAndEmpty();
    if (const std::string problem = files.Problem(); !problem.empty()) console.Error(problem);
    std::vector<FileInspection> inspections = inspection.Results(made);
    if (code == kExitOk && options.retries > 0) code = Retry(inspections);
    KeepSceneDamage(session, report, inspections);
    code = CaptureReport::WithDamage(code, inspections);
    Summary(code, made, inspections);
    report.Unwell(code, "tape capture", endedWords, made.size());
    return code;
  }

  // Each damaged file that begins a scene is read again from the scene's
  // start, found by the time code its first picture carries; a later part
  // of a split scene has no tape point of its own to read from.
  int Retry(std::vector<FileInspection>& inspections) {
    const std::optional<zelto::sim::Cassette> cassette = session.CurrentCassette();
    CaptureRetry retry(session, pump, report, options.retries, options.keepPasses);
    const auto sceneStart = [&](const FileInspection& file, std::string* whyNot) -> std::optional<std::uint32_t> {
      const std::optional<std::int64_t> clock = file.outcome.report.firstPictureClock;
      if (const auto point = cassette && clock ? SceneBegunBy(*cassette, *clock) : std::nullopt; point) return point;
      *whyNot = cassette ? "it begins no scene of the tape (a later part of a split scene has no tape point of its "
                           "own to read from)"
                         : "where its scene begins is known only on the simulated camcorder's tape";
      return std::nullopt;
    };
    return retry.RepairAll(inspections, sceneStart) ? kExitOk : kExitInterrupted;
  }

  bool Failed(const std::string& words) {
    endedWords = words;
    report.Event("error", words, {{"error", static_cast<int>(error)}, {"reason", words}});
    ended = kExitCaptureFailed;
    return true;
  }

  std::string Ending(int code) const {
    switch (code) {
      case kExitInterrupted: return Interrupt::StoppedBy();
      case kExitCaptureFailed: return "stopped: " + endedWords;
      case kExitTakenOver: return endedWords;
      default: return endedWords.empty() ? "stopped" : endedWords;
    }
  }

  void Summary(int code, const std::vector<std::string>& made, const std::vector<FileInspection>& inspections) {
    if (!running) return;
    const double seconds = TapeSeconds(made);
    if (options.json) {
      nlohmann::ordered_json j = report.Object("summary");
      j["result"] = CaptureReport::Result(code);
      j["ended"] = Ending(code);
      j["capturedSeconds"] = seconds;
      j["files"] = CaptureReport::FileArray(made, inspections);
      j["damagedFiles"] = CaptureReport::Damaged(inspections);
      report.Print(j);
      return;
    }
    report.FileLines(folder, made);
    report.DamageLines(inspections);
    report.Captured(seconds, made.size(), Ending(code), CaptureReport::Damaged(inspections));
  }

  int Fail(int code, const std::string& text) {
    report.Refuse(code, text);
    return code;
  }

  Session& session;
  ZeltoVideoDevice& device;
  const CaptureOptions& options;
  Console& console;
  EventPump pump;
  CaptureReport report;

  CaptureFolder folderGuard;
  std::unique_ptr<CaptureSplit> split;
  CaptureFiles files;
  CaptureInspection inspection;  // of each file the camcorder closes
  std::filesystem::path folder;
  std::string base;
  DWORD streamTimeoutMs = 0;
  DWORD pollMs = 0;
  bool tapeEnded = false;
  bool running = false;
  std::optional<_OxVideoDeviceState> deckState;
  std::optional<std::uint64_t> playingSince;  // ms of the camcorder's clock
  bool streaming = false;
  std::uint64_t streamOffAt = 0;
  std::optional<std::chrono::system_clock::time_point> streamOffHeard;
  int ended = kExitOk;
  std::string endedWords;
  _OxCapturingErrorID error = OX_CAPTURING_ERROR_NONE;
};

}  // namespace

int RunTapeCapture(Session& session, const CaptureOptions& options, Console& console) {
  return TapeRun(session, options, console).Run();
}

}  // namespace zelto::app
