#include "app/ScanCommand.h"

#include <chrono>
#include <string>
#include <vector>

#include "app/ContactSheet.h"
#include "app/EventPump.h"
#include "app/ExitCode.h"
#include "app/Interrupt.h"
#include "app/MicCommand.h"
#include "app/Names.h"
#include "app/Picture.h"
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

class ScanRun {
public:
  ScanRun(Session& session, const ScanOptions& options, Console& console)
      : device(session.Device()), options(options), console(console), pump(device, session.Feed(), console, false) {}

  int Run() {
    if (options.contactSheet && std::filesystem::exists(*options.contactSheet)) {
      console.Error(PathText(*options.contactSheet) + " exists already (it is left as it is); name another file");
      return kExitWouldOverwrite;
    }
    if (device.GetMediaInfo() == OX_MEDIA_NONE) return Fail(kExitRefused, "there is no cassette in the camcorder");
    if (device.GetCamcorderMode() == OX_CAMCORDER_MODE_CAMERA)
      return Fail(kExitRefused, "the camcorder is in camera mode; switch it to the deck (VCR) mode");
    scenes = SceneRecords(device);
    console.Line("scanning the tape for " + std::to_string(scenes.size()) + " scene" +
                 (scenes.size() == 1 ? "" : "s") + " of the cassette memory");
    pump.Drain();
    device.StartScanning();
    scanning = true;
    return Finish(Follow());
  }

private:
  int Follow() {
    const auto startBy = std::chrono::steady_clock::now() + OnProcessClock(kStartLimitSeconds) + 2s;
    const auto deadline = std::chrono::steady_clock::now() + OnProcessClock(kScanLimitSeconds) + 30s;
    int code = -1;
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      if (!started && now >= startBy) return Fail(kExitRefused, "the camcorder did not start a scan");
      if (now >= deadline) return Fail(kExitTimedOut, "the scan did not end in time");
      const EventPump::Outcome outcome =
          pump.Until([&](const FeedEvent* e) { return e && Handle(*e, &code); }, OnProcessClock(0.25));
      if (outcome == EventPump::Outcome::Interrupted) return kExitInterrupted;
      if (outcome == EventPump::Outcome::OutputFailed) return kExitOutputFailed;
      if (outcome == EventPump::Outcome::Done) return code;
      ShowPassedScenes();
    }
  }

  bool Handle(const FeedEvent& e, int* code) {
    if (e.kind != FeedEvent::Kind::Scanning) return false;
    console.Event(e.at, "scan", ScanningEventName(e.scanning));
    switch (e.scanning) {
      case OX_SCANNING_START: started = true; return false;
      case OX_SCANNING_COMPLETE: *code = kExitOk; return true;
      case OX_SCANNING_ERROR_STOP:
        *code = Fail(kExitRecordFailed, "the camcorder stopped the scan on an error; the pictures found so far are kept");
        return true;
      default: return false;
    }
  }

  // A scene is shown as the tape passes its start, when the camcorder
  // sends its picture.
  void ShowPassedScenes() {
    const std::string now = TimeCodeText(device.GetTimecode());
    if (now.front() == '-') return;
    while (shown < scenes.size() && PackedTimeCodeText(scenes[shown].startTimeCode) <= now) ShowScene(shown++);
  }

  void ShowScene(std::size_t index) {
    const _OxMICRecInfo& r = scenes[index];
    console.Line("scene " + std::to_string(index + 1) + "  " + PackedTimeCodeText(r.startTimeCode) + "-" +
                 PackedTimeCodeText(r.endTimeCode) + "  " + MillisecondsText(r.duration));
  }

  int Finish(int code) {
    // Stopping stores the pictures found so far in the cassette memory;
    // cancelling (Ctrl-C) too, and says the scan was cancelled.
    if (scanning) {
      if (code == kExitInterrupted) device.CancelScanning();
      else device.StopScanning();
    }
    if (code == kExitOk)
      while (shown < scenes.size()) ShowScene(shown++);
    scenes = SceneRecords(device);
    std::size_t withPicture = 0;
    for (const _OxMICRecInfo& r : scenes) withPicture += r.firstPicture.GetBitmapSize() > 0 ? 1 : 0;
    console.Line(std::to_string(withPicture) + " of " + std::to_string(scenes.size()) +
                 " scenes have a picture in the cassette memory");
    if (options.contactSheet && !scenes.empty()) {
      if (const int sheet = WriteSheet(); sheet != kExitOk && code == kExitOk) code = sheet;
    }
    if (code == kExitInterrupted) console.Error("scan cancelled by " + Interrupt::What() + "; the pictures found so far are kept");
    return code;
  }

  int WriteSheet() {
    std::vector<SheetScene> cells;
    unsigned number = 0;
    for (const _OxMICRecInfo& r : scenes) {
      SheetScene cell;
      cell.number = ++number;
      cell.times = PackedTimeCodeText(r.startTimeCode) + "-" + PackedTimeCodeText(r.endTimeCode);
      cell.length = MillisecondsText(r.duration);
      std::string why;
      if (r.firstPicture.GetBitmapSize() > 0)
        cell.picture = DecodePackedBitmap(r.firstPicture.GetBitmap(), r.firstPicture.GetBitmapSize(), &why);
      cells.push_back(std::move(cell));
    }
    OxString title;
    device.GetTapeTitle(title);
    const std::string heading = title.IsEmpty() ? "Tape" : zelto::platform::ToUtf8(title.GetStdString());
    std::string why;
    if (!WriteNewPng(ComposeContactSheet(heading, cells), *options.contactSheet, &why))
      return Fail(kExitOutputFailed, why);
    console.Line("contact sheet: " + PathText(*options.contactSheet));
    return kExitOk;
  }

  int Fail(int code, const std::string& text) {
    console.Error(text);
    return code;
  }

  ZeltoVideoDevice& device;
  const ScanOptions& options;
  Console& console;
  EventPump pump;
  std::vector<_OxMICRecInfo> scenes;
  std::size_t shown = 0;
  bool scanning = false;
  bool started = false;
};

}  // namespace

int RunScan(Session& session, const ScanOptions& options, Console& console) {
  return ScanRun(session, options, console).Run();
}

}  // namespace zelto::app
