#include "app/CaptureCommand.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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
#include "app/TapeCaptureCommand.h"
#include "host/foundation/OxUnique.h"
#include "platform/PlatformExtras.h"
#include "platform/win32.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;
using namespace std::chrono_literals;

namespace {

// A direct capture ends once no picture has come for this long (ms of the
// camcorder's clock): from the start, or since the picture stopped.
constexpr std::uint64_t kRecordingEndsAfterMs = 5000;

std::string TimeCodeSeconds(const OxTimeCode& code) {
  return TimeCodeText(code).substr(0, 8);  // HH:MM:SS: the library's figures count whole seconds
}

class CaptureRun {
public:
  CaptureRun(Session& session, const CaptureOptions& options, Console& console)
      : session(session), device(session.Device()), options(options), console(console),
        pump(device, session.Feed(), console, false), report(console, options.json),
        batch(options.kind == CaptureOptions::Kind::Batch), started(std::chrono::steady_clock::now()) {}

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
  // The folder, the names, the sections: everything that can be refused
  // before the camcorder moves.
  int Plan() {
    if (std::string problem = BaseNameProblem(options.name); !problem.empty()) return Fail(kExitUsage, problem);
    if (std::string problem = folderGuard.Prepare(options.folder); !problem.empty()) return Fail(kExitUsage, problem);
    folder = folderGuard.Path();
    for (const std::string& name : CaptureJournal::Unfinished(folder))
      Note(name + " in this folder was left unfinished by an earlier capture");
    names.kind = batch ? CaptureNames::Kind::Batch : CaptureNames::Kind::Direct;
    names.base = options.name;
    names.first = options.first;
    const std::optional<zelto::sim::Cassette> cassette = session.CurrentCassette();
    if (batch) {
      try {
        for (const std::string& text : options.sections) sections.push_back(ResolveSection(text, cassette));
      } catch (const SectionError& e) {
        return Fail(e.code, e.what());
      }
      names.sections = sections.size();
    }
    if (const std::vector<std::string> taken = CoveredFiles(folder, names); !taken.empty()) {
      if (!options.nextFree) {
        std::string list;
        for (std::size_t i = 0; i < taken.size() && i < 3; ++i) list += (i ? ", " : "") + taken[i];
        if (taken.size() > 3) list += ", ...";
        return Fail(kExitWouldOverwrite, PathText(folder) + " holds files this capture would write: " + list +
                                             " (choose another --name, or --next-free)");
      }
      if (batch) {
        const std::optional<int> free = FreeFirstNumber(folder, names.base, names.first, sections.size());
        if (!free) return Fail(kExitWouldOverwrite, "no free file number for " + names.base + " in " + PathText(folder));
        names.first = *free;
      } else {
        const std::optional<std::string> free = FreeBaseName(folder, names.base);
        if (!free) return Fail(kExitWouldOverwrite, "no free name for " + names.base + " in " + PathText(folder));
        names.base = *free;
      }
    }
    const _OxVideoDeviceState state = device.GetDeviceState();
    const std::string refusal =
        batch ? DeckRefusal(DeckAction::Seek, state, device.GetMediaInfo(), device.GetCamcorderMode())
        : state == OX_DEVICE_STATE_PLAY
            ? std::string()
            : DeckRefusal(DeckAction::Play, state, device.GetMediaInfo(), device.GetCamcorderMode());
    if (!refusal.empty()) return Fail(kExitRefused, refusal);
    const std::optional<TapePosition> tape = session.Position();
    // A direct capture plays from where the tape stands: from its end
    // nothing would ever play.
    if (!batch && tape && tape->track >= tape->lengthTracks)
      return Fail(kExitRefused, "the tape stands at its end (ATN " + std::to_string(tape->track) + "; the tape is ATN 0 to " +
                                    std::to_string(tape->lengthTracks) +
                                    "): a direct capture plays from where the tape stands; rewind or seek first");
    for (std::size_t i = 0; i < sections.size(); ++i) {
      if (sections[i].cameraOut)
        Note("section " + std::to_string(i + 1) + " (" + sections[i].written +
             "): the camcorder captures to the end of its recording, at " +
             Duration(*sections[i].cameraOut / 100.0));
    }
    const std::optional<std::uint32_t> from =
        batch ? (sections.empty() ? std::nullopt : std::optional<std::uint32_t>(sections.front().inPoint * 3))
              : (tape ? std::optional<std::uint32_t>(tape->track) : std::nullopt);
    split = std::make_unique<CaptureSplit>(session, options.split, from.value_or(0));
    if (const std::string note = split->Note(); !note.empty()) Note(note);
    // Declared before anything moves: a capture cut short from here on
    // leaves files the next one can tell are unfinished.
    if (std::string problem = files.Begin(folder, names); !problem.empty()) return Fail(kExitUsage, problem);
    return kExitOk;
  }

  int Start() {
    // The library looks for the files it is told about in the capture folder.
    OxUnique::GetInstance().SetCaptureFolder(OxString(zelto::platform::WidePath(folder).c_str()));
    const OxString wideFolder(zelto::platform::WidePath(folder).c_str());
    const OxString wideBase(zelto::platform::FromUtf8(names.base).c_str());
    const SplitRule& rule = split->Rule();
    if (batch) {
      _OxBatchCapturingParam param;
      param.folderPath = wideFolder;
      param.fileBaseName = wideBase;
      param.firstFileNumber = names.first;
      param.splitKind = static_cast<std::int32_t>(rule.kind);
      param.splitSizeMegabytes = rule.megabytes;
      param.splitDurationFrames = rule.frames;
      std::vector<_OxBatchCapturingItem> items;
      for (const PlannedSection& s : sections) {
        _OxBatchCapturingItem item;
        item.inPoint = s.inPoint;
        item.outPoint = s.cameraOut.value_or(s.outPoint);
        item.sceneKey = s.sceneKey;
        items.push_back(item);
      }
      device.SetBatchCapturingList(param, items);
      device.StartBatchCapturing();
      Event("start",
            "batch of " + Count(sections.size(), "section", "sections") + " into " + PathText(folder) + ", files " +
                names.base + "-" + Number3(WrapFileNumber(names.first)) + "-01.zlt on",
            {{"folder", PathText(folder)}, {"base", names.base}, {"first", names.first}, {"sections", sections.size()}});
    } else {
      _OxDirectCapturingParam param;
      param.folderPath = wideFolder;
      param.fileBaseName = wideBase;
      param.splitKind = static_cast<std::int32_t>(rule.kind);
      param.splitSizeMegabytes = rule.megabytes;
      param.splitDurationFrames = rule.frames;
      device.SetDirectCapturingStructure(param);
      device.StartDirectCapturing();
      if (device.GetDeviceState() != OX_DEVICE_STATE_PLAY) PressDeckButton(device, DeckAction::Play);
      sawPlay = device.GetDeviceState() == OX_DEVICE_STATE_PLAY;
      Event("start", "direct capture into " + PathText(folder) + ", files " + names.base + "-01.zlt on",
            {{"folder", PathText(folder)}, {"base", names.base}});
    }
    capturing = true;
    startedAt = lastGrowthAt = GetTickCount64();
    const std::string problem = session.StateProblem();
    if (!problem.empty()) return Fail(kExitStateFile, "the camcorder did not keep the command: " + problem);
    return kExitOk;
  }

  // Until the capture ends: events as they come, the files looked at and
  // the progress shown between.
  int Follow() {
    // On the camcorder's clock (ZELTO_TIME_SCALE speeds it).
    const double shownEvery = options.json ? 1.0 : 0.5;
    double shownAt = 0;
    for (;;) {
      double wait = shownEvery;
      // Near the end of --seconds the files are looked at often, to stop
      // close to it.
      if (!batch && options.seconds) wait = std::clamp(*options.seconds - EstimatedSeconds(), 0.01, wait);
      const EventPump::Outcome outcome =
          pump.Until([&](const FeedEvent* e) { return e && Handle(*e); }, OnProcessClock(wait));
      if (outcome == EventPump::Outcome::Interrupted) return kExitInterrupted;
      if (outcome == EventPump::Outcome::OutputFailed || console.OutputFailed()) return kExitOutputFailed;
      if (outcome == EventPump::Outcome::Done) return ended;
      // A button pressed in another terminal that the deck has not shown
      // yet (or never will: a play while it plays) ends the job all the same.
      if (const std::optional<DeckTakeover> by = session.DeckTaken()) {
        End(kExitTakenOver, TakenWords(*by));
        return ended;
      }
      if (!batch) {
        LookAtTheFiles();
        if (const std::optional<int> code = DirectDone()) return *code;
      }
      const double now = SecondsSinceStart();
      if (now - shownAt >= shownEvery * 0.99) {
        shownAt = now;
        Progress();
      }
    }
  }

  double SecondsSinceStart() const { return static_cast<double>(GetTickCount64() - startedAt) / 1000.0; }

  // True when the capture is over; `ended` and `endedWords` say how.
  bool Handle(const FeedEvent& e) {
    if (e.kind == FeedEvent::Kind::Capture) return HandleCapture(e);
    if (e.Is(OX_NOTIFY_STREAMING_ON)) PictureOn(true);
    if (e.Is(OX_NOTIFY_STREAMING_OFF)) PictureOn(false);
    if (!e.state && !e.media && !e.mode) return false;
    DeckView view;
    view.media = e.media;
    view.mode = e.mode;
    if (e.state == OX_DEVICE_STATE_PLAY) sawPlay = true;
    if (batch) {
      // The library's own searches move the deck: only a capturing
      // section's deck is judged, and its stop at the scene's end is due.
      if (sectionCapturing) view.state = e.state;
    } else if (sawPlay) {
      view.state = e.state;  // before the deck played, a stop is old news
    }
    if (!view.state && !view.media && !view.mode) return false;
    view.position = session.Position();
    view.seekUnderWay = session.SeekUnderWay();
    view.takenBy = session.DeckTaken();
    view.stopExpected = batch && SectionEndReached(view.position);
    const DeckDeparture departure = JudgeDeck(view);
    switch (departure.kind) {
      case DeckDeparture::Kind::None: return false;
      case DeckDeparture::Kind::TapeEnded:
        LookAtTheFiles();
        return End(capturedBytes == 0 ? kExitNoRecording : kExitOk,
                   capturedBytes == 0 ? "no recording found before the end of the tape" : departure.words);
      case DeckDeparture::Kind::TakenOver: return End(kExitTakenOver, departure.words);
      case DeckDeparture::Kind::Failed:
        error = OX_CAPTURING_ERROR_DECK_STOPPED;
        return End(kExitCaptureFailed, departure.words);
    }
    return false;
  }

  bool HandleCapture(const FeedEvent& e) {
    if (e.kind != FeedEvent::Kind::Capture) return false;
    switch (e.capture) {
      case OX_CAPTURING_CREATE_FILE:
        // The camcorder opens the first file as the first picture comes:
        // where the deck played already, no stream was announced.
        if (files.Reported() == 0 && !pictureOnSince && pictureMs == 0) PictureOn(true);
        files.Created(e.file);
        Event("file-created", e.file, {{"file", e.file}});
        return false;
      case OX_CAPTURING_COMPLETE_FILE:
        files.Closed(e.file);
        inspection.Completed(e.file);
        Event("file-complete", e.file, {{"file", e.file}});
        ++completed;
        return false;
      case OX_CAPTURING_SEARCH_IN: Event("searching", SectionText(), {{"section", sectionsDone + 1}}); return false;
      case OX_CAPTURING_SEARCH_OUT:
        sectionCapturing = true;
        Event("found", SectionText(), {{"section", sectionsDone + 1}});
        return false;
      case OX_CAPTURING_COMPLETE_SECTION:
        sectionCapturing = false;
        files.AllClosed();
        ++sectionsDone;
        Event("section-complete", "section " + std::to_string(sectionsDone) + " of " + std::to_string(sections.size()),
              {{"section", sectionsDone}});
        return false;
      case OX_CAPTURING_COMPLETE_BATCH:
        Event("batch-complete", Count(sectionsDone, "section", "sections"), {{"sections", sectionsDone}});
        return End(kExitOk, "every section captured");
      case OX_CAPTURING_ERROR_STOP: {
        error = e.error;
        // A deck another command took, whichever the camcorder told first:
        // the library's error or the deck's own state.
        if (e.error == OX_CAPTURING_ERROR_DECK_STOPPED || e.error == OX_CAPTURING_ERROR_TAPE_EJECTED) {
          const DeckDeparture departure =
              JudgeDeck(DeckAsItStands(session, e.error == OX_CAPTURING_ERROR_TAPE_EJECTED));
          if (departure.kind == DeckDeparture::Kind::TakenOver) return End(kExitTakenOver, departure.words);
        }
        std::string words = CapturingErrorName(e.error);
        if (e.error == OX_CAPTURING_ERROR_FILE_WRITE || e.error == OX_CAPTURING_ERROR_UNKNOWN) {
          // The driver does not say why a file could not be written; the
          // folder may.
          const std::string why = folderGuard.WhyNoWrite(session.SimulatedDiskFull().value_or(false));
          if (why == "the disk is full") error = OX_CAPTURING_ERROR_DISK_FULL;
          words = why == "the disk is full" ? why : why.empty() ? words : "a capture file could not be written: " + why;
        }
        Event("error", words, {{"error", static_cast<int>(error)}, {"reason", words}});
        return End(kExitCaptureFailed, words);
      }
    }
    return false;
  }

  bool End(int code, const std::string& words) {
    ended = code;
    endedWords = words;
    return true;
  }

  // Whether the head stands at (or within a second before) the end of the
  // scene the batch section being captured runs to; true where the tape
  // does not tell.
  bool SectionEndReached(const std::optional<TapePosition>& at) const {
    if (!at || sectionsDone >= sections.size()) return true;
    const PlannedSection& s = sections[sectionsDone];
    const std::uint32_t endTrack = s.cameraOut.value_or(s.outPoint) * 3;
    return at->track + 300 >= endTrack;
  }

  // The direct capture's parts as the folder holds them, and when they last grew.
  void LookAtTheFiles() {
    std::uint64_t bytes = 0;
    for (int part = 1;; ++part) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "-%02d.zlt", part);
      const std::uint64_t size = FileSize(zelto::platform::Utf8FromPath(folder / zelto::platform::PathFromUtf8(names.base + suffix)));
      if (size == 0) break;
      bytes += size;
    }
    if (bytes > capturedBytes) lastGrowthAt = GetTickCount64();
    capturedBytes = std::max(capturedBytes, bytes);
  }

  // The picture as the camcorder announces it, timed on its clock.
  void PictureOn(bool on) {
    const std::uint64_t now = GetTickCount64();
    if (on && !pictureOnSince) pictureOnSince = now;
    if (!on && pictureOnSince) {
      pictureMs += now - *pictureOnSince;
      pictureOnSince.reset();
    }
  }

  // Seconds of tape captured by now: the files lag behind the head (the
  // driver encodes and writes in steps and closes them up to where the
  // head stands), so the picture's time counts too.
  double EstimatedSeconds() const {
    const std::uint64_t ms = pictureMs + (pictureOnSince ? GetTickCount64() - *pictureOnSince : 0);
    return std::max(static_cast<double>(capturedBytes) / kStreamBytesPerSecond, static_cast<double>(ms) / 1000.0);
  }

  std::optional<int> DirectDone() {
    if (options.seconds && EstimatedSeconds() >= *options.seconds) {
      End(kExitOk, "the " + Duration(*options.seconds) + " asked for were captured");
      return ended;
    }
    const std::uint64_t silentMs = GetTickCount64() - lastGrowthAt;
    if (silentMs < kRecordingEndsAfterMs) return std::nullopt;
    if (capturedBytes == 0) End(kExitNoRecording, "no recording found: no picture within 5 s of tape from the start");
    else End(kExitOk, "the recording ended: no picture for 5 s of tape");
    return ended;
  }

  void Progress() {
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::optional<unsigned> percent;
    double captured = 0;
    std::optional<double> total;
    std::uint64_t freeBytes = 0;
    std::size_t fileCount = files.Reported();
    std::string capturedText;
    if (batch) {
      _OxBatchCapturingProgress p;
      device.GetBatchCapturingProgress(p);
      // The library's figure counts a finished section twice until the next
      // search begins; a person is shown the most reached so far.
      shownPercent = std::max(shownPercent, p.percent);
      percent = shownPercent;
      captured = files.ReportedSeconds();
      std::uint64_t totalHundredths = 0;
      for (const PlannedSection& s : sections) totalHundredths += s.cameraOut.value_or(s.outPoint) - s.inPoint;
      total = static_cast<double>(totalHundredths) / 100.0;
      freeBytes = p.freeDiskSpace;
      capturedText = TimeCodeSeconds(p.capturedTime) + " / " + TimeCodeSeconds(p.totalTime);
    } else {
      // The library's figures look for the current part, for a while when
      // there is none yet.
      if (files.Reported() > 0) {
        _OxDirectCapturingProgress p;
        device.GetDirectCapturingProgress(p);
        freeBytes = p.freeDiskSpace;
        fileCount = p.filesCreated;
      }
      captured = static_cast<double>(capturedBytes) / kStreamBytesPerSecond;
      if (options.seconds) {
        total = *options.seconds;
        percent = static_cast<unsigned>(std::min(100.0, captured * 100.0 / *options.seconds));
      }
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
    line << capturedText << "  files " << fileCount;
    if (batch || files.Reported() > 0) line << "  free " << Bytes(static_cast<double>(freeBytes));
    line << "  " << Bytes(rate) << "/s";
    if (left) line << "  left " << Duration(std::max(0.0, *left));
    report.Progress(line.str());
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
        pump.Until([&](const FeedEvent* e) { return (e && HandleCapture(*e)) || completed >= files.Reported(); },
                   OnProcessClock(3.0));
        device.ExitDirectCapturing();
        // A deck another command took is left as that command left it.
        if (code != kExitTakenOver && device.GetDeviceState() != OX_DEVICE_STATE_STOP)
          PressDeckButton(device, DeckAction::Stop);
      }
    }
    // What the capture reported while it was taken down.
    pump.Until(
        [&](const FeedEvent* e) {
          if (e) HandleCapture(*e);
          return false;
        },
        0ms);
    console.Status("");
    // Every file of the capture's names that it made: a part the camcorder
    // finished after the library's capture had ended is reported to nobody.
    // Once the driver has been stopped it has closed every file; a removed
    // camcorder closed nothing it could tell of.
    const std::vector<std::string> made = files.Made(capturing && error != OX_CAPTURING_ERROR_DEVICE_REMOVED);
    if (made.empty()) folderGuard.RemoveIfMadeAndEmpty();
    if (const std::string problem = files.Problem(); !problem.empty()) console.Error(problem);
    std::vector<FileInspection> inspections = inspection.Results(made);
    if (code == kExitOk && options.retries > 0) code = Retry(inspections);
    KeepSceneDamage(session, report, inspections);
    code = CaptureReport::WithDamage(code, inspections);
    Summary(code, made, inspections);
    report.Unwell(code, "capture", endedWords, made.size());
    return code;
  }

  // Each damaged file that begins a section is read again from the
  // section's start; a later part of a split section has no tape point of
  // its own to read from.
  int Retry(std::vector<FileInspection>& inspections) {
    CaptureRetry retry(session, pump, report, options.retries, options.keepPasses);
    const auto sectionStart = [&](const FileInspection& file, std::string* whyNot) -> std::optional<std::uint32_t> {
      const std::string name = zelto::platform::Utf8FromPath(zelto::platform::PathFromUtf8(file.file).filename());
      const std::optional<std::pair<int, int>> numbers = names.Numbers(name);
      for (std::size_t i = 0; numbers && numbers->second == 1 && i < sections.size(); ++i)
        if (WrapFileNumber(names.first + static_cast<int>(i)) == numbers->first) return sections[i].inPoint;
      *whyNot = "only the first part of a section begins at a tape point to read from";
      return std::nullopt;
    };
    return retry.RepairAll(inspections, sectionStart) ? kExitOk : kExitInterrupted;
  }

  void Summary(int code, const std::vector<std::string>& made, const std::vector<FileInspection>& inspections) {
    const double seconds = TapeSeconds(made);
    std::string how = endedWords;
    if (code == kExitInterrupted) how = Interrupt::StoppedBy();
    else if (code == kExitOutputFailed) how = "the output could not be written";
    else if (how.empty()) how = "stopped";
    if (options.json) {
      nlohmann::ordered_json j = report.Object("summary");
      j["result"] = CaptureReport::Result(code);
      j["ended"] = how;
      j["capturedSeconds"] = seconds;
      j["files"] = CaptureReport::FileArray(made, inspections);
      j["damagedFiles"] = CaptureReport::Damaged(inspections);
      report.Print(j);
      return;
    }
    report.FileLines(folder, made);
    report.DamageLines(inspections);
    report.Captured(seconds, made.size(), how, CaptureReport::Damaged(inspections));
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
    report.Refuse(code, text);
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

  CaptureFolder folderGuard;
  std::filesystem::path folder;
  CaptureNames names;
  CaptureFiles files;
  CaptureInspection inspection;  // of each file the camcorder closes
  std::unique_ptr<CaptureSplit> split;
  std::vector<PlannedSection> sections;
  bool capturing = false;
  std::size_t completed = 0;          // files reported complete
  unsigned sectionsDone = 0;
  bool sectionCapturing = false;  // a batch section's scene plays into its file
  bool sawPlay = false;
  std::uint64_t startedAt = 0;     // ms of the camcorder's clock
  std::uint64_t capturedBytes = 0;  // what the direct capture's parts hold
  std::uint64_t lastGrowthAt = 0;  // when they last grew (or the start)
  std::uint64_t pictureMs = 0;     // the picture's time before pictureOnSince
  std::optional<std::uint64_t> pictureOnSince;
  int ended = kExitOk;
  std::string endedWords;
  _OxCapturingErrorID error = OX_CAPTURING_ERROR_NONE;
  unsigned shownPercent = 0;
};

}  // namespace

int RunCapture(Session& session, const CaptureOptions& options, Console& console) {
  if (options.kind == CaptureOptions::Kind::Tape) return RunTapeCapture(session, options, console);
  return CaptureRun(session, options, console).Run();
}

}  // namespace zelto::app
