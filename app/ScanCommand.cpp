#include "app/ScanCommand.h"

#include <chrono>
#include <string>
#include <vector>

#include "app/ContactSheet.h"
#include "app/DeckTakeover.h"
#include "app/EventPump.h"
#include "app/ExitCode.h"
#include "app/Interrupt.h"
#include "app/MicCommand.h"
#include "app/SceneDamage.h"
#include "app/Names.h"
#include "app/Picture.h"
#include "app/SceneDamage.h"
#include "app/Session.h"
#include "platform/PlatformExtras.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;
using namespace std::chrono_literals;

namespace {

// A whole cassette at search speed takes minutes; four hours of the
// camcorder's clock is more than any scan.
constexpr double kScanLimitSeconds = 4 * 3600;
// How soon a scan the camcorder took says it started.
constexpr double kStartLimitSeconds = 10;
// How long a deck that has been told to stop takes to say so.
constexpr double kStopLimitSeconds = 10;

std::size_t WithPicture(const std::vector<_OxMICRecInfo>& records) {
  std::size_t count = 0;
  for (const _OxMICRecInfo& r : records) count += r.firstPicture.GetBitmapSize() > 0 ? 1 : 0;
  return count;
}

std::string Scenes(std::size_t count) { return std::to_string(count) + (count == 1 ? " scene" : " scenes"); }

class ScanRun {
public:
  ScanRun(Session& session, const ScanOptions& options, Console& console)
      : session(session), device(session.Device()), options(options), console(console),
        pump(device, session.Feed(), console, false) {}

  int Run() {
    // The sheet's file is made first: a name that cannot be used is told
    // before the tape moves, not after the whole scan.
    if (options.contactSheet) {
      std::string why;
      switch (sheet.Make(*options.contactSheet, &why)) {
        case NewPngFile::Claim::Made: break;
        case NewPngFile::Claim::Exists: return Fail(kExitWouldOverwrite, why);
        case NewPngFile::Claim::Unusable: return Fail(kExitUsage, why);
      }
    }
    if (device.GetMediaInfo() == OX_MEDIA_NONE) return Fail(kExitRefused, "there is no cassette in the camcorder");
    if (device.GetCamcorderMode() == OX_CAMCORDER_MODE_CAMERA)
      return Fail(kExitRefused, "the camcorder is in camera mode; switch it to the deck (VCR) mode");
    scenes = SceneRecords(device);
    FindScenesOnTape();
    console.Line("scanning the tape for " + Scenes(scenes.size()) + " of the cassette memory");
    pump.Drain();
    device.StartScanning();
    scanning = true;
    return Finish(Follow());
  }

private:
  enum class Ending { Running, Complete, Error };

  int Follow() {
    const auto startBy = std::chrono::steady_clock::now() + OnProcessClock(kStartLimitSeconds) + 2s;
    const auto deadline = std::chrono::steady_clock::now() + OnProcessClock(kScanLimitSeconds) + 30s;
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      if (!started && now >= startBy) return Fail(kExitRefused, "the camcorder did not start a scan");
      if (now >= deadline) return Fail(kExitTimedOut, "the scan did not end in time");
      const EventPump::Outcome outcome =
          pump.Until([&](const FeedEvent* e) { return e && Handle(*e); }, OnProcessClock(0.25));
      if (outcome == EventPump::Outcome::Interrupted) return kExitInterrupted;
      if (outcome == EventPump::Outcome::OutputFailed) return kExitOutputFailed;
      ShowPassedScenes();
      if (outcome == EventPump::Outcome::Done) return Ended();
    }
  }

  // True once the scan has ended, or its deck has left it: the deck then
  // stands or plays, or the cassette is gone.
  bool Handle(const FeedEvent& e) {
    if (e.state == OX_DEVICE_STATE_REWIND || e.state == OX_DEVICE_STATE_PLAY_FASTEST_FORWARD) {
      scanDeckSeen = true;
      // The scan rewinds first; the scenes pass once it runs forward.
      forward = forward || e.state == OX_DEVICE_STATE_PLAY_FASTEST_FORWARD;
    } else if (e.state && scanDeckSeen) {
      deckLeft = true;
    }
    if (e.kind == FeedEvent::Kind::Scanning) {
      console.Event(e.at, "scan", ScanningEventName(e.scanning));
      if (e.scanning == OX_SCANNING_START) started = true;
      if (e.scanning == OX_SCANNING_COMPLETE) ending = Ending::Complete;
      if (e.scanning == OX_SCANNING_ERROR_STOP) ending = Ending::Error;
    }
    return ending != Ending::Running || deckLeft;
  }

  // The scan has ended: by itself at the end of the recordings, or because
  // its deck was taken or failed.
  int Ended() {
    const auto limit = OnProcessClock(kStopLimitSeconds) + 2s;
    // A camcorder ends its scan when its deck leaves it, and says so just
    // after; one that does not say is judged by its deck alone.
    if (ending == Ending::Running)
      pump.Until([&](const FeedEvent* e) { return e && Handle(*e) && ending != Ending::Running; }, limit);
    if (ending == Ending::Complete && !ShortOfTheEnd()) return kExitOk;
    // The deck's new state follows the end of the scan.
    pump.Until(
        [&](const FeedEvent* e) {
          if (e) Handle(*e);
          return deckLeft;
        },
        limit);
    const std::string kept = "; the pictures it found are kept";
    if (const std::string taker = DeckTakenBy(); !taker.empty())
      return Fail(kExitTakenOver, "the scan ended" + Where() + ": " + taker + kept);
    return Fail(kExitRecordFailed, "the camcorder stopped the scan on an error" + Where() + kept);
  }

  // Who took the deck from under the scan, as words for the message; empty
  // when nothing shows that another command did: a button another zelto
  // noted pressing names itself; otherwise the camcorder shows it by
  // a deck that plays or stands where the scan never leaves it, or by no
  // cassette (ejected); a stalled or silent deck is its own error.
  std::string DeckTakenBy() {
    if (const std::optional<DeckTakeover> by = session.DeckTaken()) return TakenWords(*by);
    if (device.GetMediaInfo() == OX_MEDIA_NONE) return "the cassette was ejected";
    const _OxVideoDeviceState state = device.GetDeviceState();
    if (state == OX_DEVICE_STATE_STOP && ShortOfTheEnd()) return "another command stopped the deck";
    if (state == OX_DEVICE_STATE_UNKNOWN || state == OX_DEVICE_STATE_STALLED || state == OX_DEVICE_STATE_STOP ||
        state == OX_DEVICE_STATE_PLAY_FASTEST_FORWARD || state == OX_DEVICE_STATE_REWIND)
      return {};
    return "another command took the deck (it is in " + DeviceStateName(state) + " now)";
  }

  // Whether the head stands before the end of the last scene, where a
  // whole scan stops; known only where the simulated camcorder tells.
  bool ShortOfTheEnd() {
    const std::optional<TapePosition> tape = session.Position();
    return tape && !sceneEnds.empty() && tape->track < sceneEnds.back();
  }

  // " at ATN n" where the simulated camcorder tells it.
  std::string Where() {
    const std::optional<TapePosition> tape = session.Position();
    return tape ? " at ATN " + std::to_string(tape->track) : "";
  }

  // Where each scene of the memory lies on the tape, where the simulated
  // camcorder tells and its scenes are the memory's (one record a scene,
  // both in tape order); elsewhere the scenes are shown once the scan is
  // complete.
  void FindScenesOnTape() {
    const std::optional<zelto::sim::Cassette> cassette = session.CurrentCassette();
    if (!cassette || cassette->scenes.size() != scenes.size()) return;
    for (const zelto::sim::Scene& scene : cassette->scenes) {
      sceneStarts.push_back(scene.startTrack);
      sceneEnds.push_back(scene.endTrack);
    }
  }

  // A scene is shown as the forward run passes its start, where the
  // camcorder takes its picture; one the scan never reached is never shown,
  // nor one the deck passes after the scan is over.
  void ShowPassedScenes() {
    if (!forward || sceneStarts.empty() || deckLeft || ending != Ending::Running) return;
    const std::optional<TapePosition> tape = session.Position();
    if (!tape) return;
    while (shown < sceneStarts.size() && sceneStarts[shown] <= tape->track) ShowScene(shown++);
  }

  void ShowScene(std::size_t index) {
    const _OxMICRecInfo& r = scenes[index];
    console.Line("scene " + std::to_string(index + 1) + "  " + PackedTimeCodeText(r.startTimeCode) + "-" +
                 PackedTimeCodeText(r.endTimeCode) + "  " + MillisecondsText(r.duration));
  }

  int Finish(int code) {
    if (scanning) StoreThePictures(code == kExitInterrupted);
    // The scenes passed before the deck stopped have their pictures now.
    ShowPassedScenes();
    if (code == kExitOk)
      while (shown < scenes.size()) ShowScene(shown++);
    scenes = SceneRecords(device);
    const std::size_t withPicture = WithPicture(scenes);
    console.Line(std::to_string(withPicture) + " of " + Scenes(scenes.size()) +
                 " have a picture in the cassette memory");
    if (options.contactSheet) {
      if (const int written = WriteSheet(); written != kExitOk && code == kExitOk) code = written;
    }
    if (code == kExitInterrupted) {
      const bool reached = sceneStarts.empty() ? forward : shown > 0;
      console.Error(reached ? "scan cancelled by " + Interrupt::What() + "; the pictures of the scenes it reached are kept"
                            : "scan cancelled by " + Interrupt::What() + " before it reached a scene");
    }
    return code;
  }

  // Stopping the scan, or cancelling it (Ctrl-C), stores the pictures the
  // library holds in the cassette memory. A scan the camcorder ended has
  // sent every picture before it said so; one stopped under way may have a
  // picture still on its way to the library, there once the deck's stop,
  // sent after it, has arrived: a second stop stores it.
  void StoreThePictures(bool cancel) {
    const auto stop = [&] {
      if (cancel) device.CancelScanning();
      else device.StopScanning();
    };
    const bool wasMoving = device.GetDeviceState() != OX_DEVICE_STATE_STOP;
    stop();
    scanning = false;
    if (!wasMoving || ending != Ending::Running) return;
    const EventPump::Outcome stopped = pump.UntilEvenIfInterrupted(
        [&](const FeedEvent* e) { return e && e->state == OX_DEVICE_STATE_STOP; },
        OnProcessClock(kStopLimitSeconds) + 2s);
    if (stopped == EventPump::Outcome::Done) stop();
  }

  int WriteSheet() {
    if (scenes.empty()) {
      console.Line("no contact sheet: the cassette memory holds no scenes");
      return kExitOk;
    }
    std::vector<SheetScene> cells;
    const SceneDamageLedger damage(session.DataFolder());
    unsigned number = 0;
    for (const _OxMICRecInfo& r : scenes) {
      SheetScene cell;
      cell.number = ++number;
      cell.times = PackedTimeCodeText(r.startTimeCode) + "-" + PackedTimeCodeText(r.endTimeCode);
      cell.length = MillisecondsText(r.duration);
      const std::optional<SceneDamage> found = damage.Find(r);
      cell.damaged = found && found->Damaged();
      std::string why;
      if (r.firstPicture.GetBitmapSize() > 0)
        cell.picture = DecodePackedBitmap(r.firstPicture.GetBitmap(), r.firstPicture.GetBitmapSize(), &why);
      cells.push_back(std::move(cell));
    }
    OxString title;
    device.GetTapeTitle(title);
    const std::string heading = title.IsEmpty() ? "Tape" : zelto::platform::ToUtf8(title.GetStdString());
    std::string why;
    if (!sheet.Write(ComposeContactSheet(heading, cells), &why)) return Fail(kExitOutputFailed, why);
    console.Line("contact sheet: " + PathText(*options.contactSheet));
    return kExitOk;
  }

  int Fail(int code, const std::string& text) {
    console.Error(text);
    return code;
  }

  Session& session;
  ZeltoVideoDevice& device;
  const ScanOptions& options;
  Console& console;
  EventPump pump;
  NewPngFile sheet;
  std::vector<_OxMICRecInfo> scenes;
  std::vector<std::uint32_t> sceneStarts;  // tracks, where known
  std::vector<std::uint32_t> sceneEnds;
  std::size_t shown = 0;
  bool scanning = false;
  bool started = false;
  bool forward = false;
  bool scanDeckSeen = false;  // the deck has been seen rewinding or running forward for the scan
  bool deckLeft = false;
  Ending ending = Ending::Running;
};

}  // namespace

int RunScan(Session& session, const ScanOptions& options, Console& console) {
  return ScanRun(session, options, console).Run();
}

}  // namespace zelto::app
