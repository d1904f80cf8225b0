#include "app/RecordCommand.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

#include "app/CaptureReport.h"
#include "app/DeckTakeover.h"
#include "app/EventPump.h"
#include "app/ExitCode.h"
#include "app/Interrupt.h"
#include "app/Names.h"
#include "app/Session.h"
#include "app/StatusCommand.h"
#include "platform/PlatformExtras.h"
#include "platform/win32.h"
#include "simulator/TransportStream.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;
using namespace std::chrono_literals;

namespace {

// The library's batch start: up to 150 looks 400 ms apart for record pause,
// 5 s of settling, then the record button; beyond this it has given up.
constexpr double kDeckStartSeconds = 150 * 0.4 + 5 + 5;
// How soon after its deck stops recording a camcorder says why.
constexpr double kWordLimitSeconds = 5;

// "H:MM:SS.s" from hundredths of a second.
std::string Hundredths(std::uint64_t hundredths) {
  const std::uint64_t tenths = hundredths / 10;
  char text[40];
  std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%llu", static_cast<unsigned long long>(tenths / 36000),
                static_cast<unsigned long long>(tenths / 600 % 60), static_cast<unsigned long long>(tenths / 10 % 60),
                static_cast<unsigned long long>(tenths % 10));
  return text;
}

class RecordRun {
public:
  RecordRun(Session& session, const RecordOptions& options, Console& console)
      : session(session), device(session.Device()), options(options), console(console),
        pump(device, session.Feed(), console) {}

  int Run() {
    std::uint64_t bytes = 0;
    std::string why;
    if (!CheckTransportStream(options.file, &bytes, &why)) return Fail(kExitUsage, why);
    if (const int code = CheckCamcorder(); code != kExitOk) return code;

    // One item, the whole file: its position units are hundredths of a
    // second, as the margins are.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(options.file, ec);
    _OxRecordingItem item;
    item.path = OxString(zelto::platform::WidePath(ec ? options.file : absolute).c_str());
    item.start = 0;
    item.end = static_cast<std::int32_t>(RecordingHundredths(bytes));
    std::vector<_OxRecordingItem> list{item};
    device.SetRecordingList(list);
    total = static_cast<std::uint64_t>(item.end) + options.firstMargin + options.secondMargin;

    console.Line("recording " + PathText(options.file) + " (" + Hundredths(static_cast<std::uint64_t>(item.end)) +
                 " of tape, margins " + Hundredths(options.firstMargin) + " and " + Hundredths(options.secondMargin) +
                 ")" + (options.direct ? "" : "; the deck goes to record pause, then records"));
    pump.Drain();
    // The library's start returns once the data flows, or when the deck
    // never reached record pause; it blocks meanwhile (about 6 s in batch).
    started = true;
    if (options.direct) device.StartDirectRecording(options.firstMargin, options.secondMargin);
    else device.StartBatchRecording(options.firstMargin, options.secondMargin);
    return Follow();
  }

private:
  int CheckCamcorder() {
    const _OxMediaInfo media = device.GetMediaInfo();
    if (media == OX_MEDIA_NONE) return Fail(kExitRefused, "there is no cassette in the camcorder");
    if (media == OX_MEDIA_WRITE_PROTECTED) return Fail(kExitRefused, "the cassette is write-protected");
    if (device.GetCamcorderMode() == OX_CAMCORDER_MODE_CAMERA)
      return Fail(kExitRefused, "the camcorder is in camera mode; switch it to the deck (VCR) mode");
    const _OxVideoDeviceState state = device.GetDeviceState();
    const bool recording = state == OX_DEVICE_STATE_RECORD || state == OX_DEVICE_STATE_RECORD_PAUSE;
    if (options.direct && !recording)
      return Fail(kExitRefused, "--direct sends the data only, and the deck is not recording (it is in " +
                                    DeviceStateName(state) + "); leave out --direct to have the deck started");
    if (!options.direct && recording)
      return Fail(kExitRefused, "the deck is already recording; stop it first, or use --direct");
    // The camcorder would go to record pause there and never record.
    if (const std::string end = TapeEndText(session); !end.empty())
      return Fail(kExitRefused, end + ": no tape is left to record on; rewind or seek first");
    return kExitOk;
  }

  int Follow() {
    // The data starts within the call above; after it the recording lasts
    // its record time on the camcorder's clock, with room to spare.
    const auto deadline = std::chrono::steady_clock::now() + OnProcessClock(kDeckStartSeconds) +
                          OnProcessClock(static_cast<double>(total) / 100.0 * 1.5 + 30) + 10s;
    int code = -1;
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) {
        code = Fail(kExitTimedOut, "the camcorder did not report the end of the recording in time");
        break;
      }
      const auto tick = std::min<std::chrono::steady_clock::duration>(OnProcessClock(0.5), deadline - now);
      const EventPump::Outcome outcome = pump.Until([&](const FeedEvent* e) { return e && Handle(*e, &code); }, tick);
      if (outcome == EventPump::Outcome::Interrupted) {
        code = kExitInterrupted;
        break;
      }
      if (outcome == EventPump::Outcome::OutputFailed) {
        code = kExitOutputFailed;
        break;
      }
      if (outcome == EventPump::Outcome::Done) {
        if (!ended) code = DeckLeft();
        break;
      }
      if (!dataFlowing) {
        // The start returned without data: the deck never reached record pause.
        code = Fail(kExitRefused, "the deck did not go into record pause; nothing was recorded");
        break;
      }
      Progress();
    }
    return Finish(code);
  }

  // True once the recording has ended, or its deck has left it.
  bool Handle(const FeedEvent& e, int* code) {
    if (dataFlowing && e.state && *e.state != OX_DEVICE_STATE_RECORD && *e.state != OX_DEVICE_STATE_RECORD_PAUSE) {
      leftFor = *e.state;
      return true;
    }
    if (e.kind != FeedEvent::Kind::Recording) return false;
    switch (e.recording) {
      case OX_RECORDING_DATA_START:
        dataFlowing = true;
        dataStartedAt = GetTickCount();
        return false;
      case OX_RECORDING_COMPLETE:
        *code = kExitOk;
        ended = true;
        return true;
      case OX_RECORDING_ERROR_STOP:
        *code = CutShort(e.recordingError);
        ended = true;
        return true;
      default: return false;
    }
  }

  // The deck stopped recording under the data. The camcorder says how the
  // recording ended just after; one that does not say is judged by the
  // deck alone.
  int DeckLeft() {
    int code = -1;
    pump.Until([&](const FeedEvent* e) { return e && e->kind == FeedEvent::Kind::Recording && Handle(*e, &code); },
               OnProcessClock(kWordLimitSeconds) + 2s);
    return ended ? code : CutShort(OX_RECORDING_ERROR_NONE);
  }

  // Why the camcorder ended the recording before the file's end, said and
  // answered as the exit status.
  int CutShort(_OxRecordingErrorID error) {
    const std::string kept = "; what reached the tape stays there";
    if (error == OX_RECORDING_ERROR_DEVICE_REMOVED)
      return Fail(kExitRecordFailed, "the recording stopped: the camcorder was removed" + kept);
    if (const std::optional<TapePosition> tape = session.Position(); tape && tape->track >= tape->lengthTracks)
      return Fail(kExitRecordFailed, "the recording stopped: the tape ended (at ATN " + std::to_string(tape->track) +
                                         ") before the file did" + kept);
    if (const std::string taker = DeckTakenBy(); !taker.empty())
      return Fail(kExitTakenOver, "the recording stopped: " + taker + kept);
    return Fail(kExitRecordFailed, "the recording stopped on an error (the camcorder reported it)" + kept);
  }

  // Who took the deck from under the recording, as words for the message;
  // empty when nothing shows that another command did. A button another
  // zelto noted pressing names itself; otherwise the camcorder shows
  // it by a deck that left recording before it said the recording failed
  // (after a failure the library stops the deck itself), or by no cassette
  // (ejected); a cassette made write-protected is its own error.
  std::string DeckTakenBy() {
    if (const std::optional<DeckTakeover> by = session.DeckTaken()) return TakenWords(*by);
    const _OxMediaInfo media = device.GetMediaInfo();
    if (media == OX_MEDIA_NONE) return "the cassette was ejected";
    if (media == OX_MEDIA_WRITE_PROTECTED || !leftFor) return {};
    return "another command took the deck (it is in " + DeviceStateName(*leftFor) + " now)";
  }

  void Progress() {
    if (!console.Interactive()) return;
    const std::uint64_t done = std::min<std::uint64_t>((GetTickCount() - dataStartedAt) / 10, total);
    console.Status("recording " + Hundredths(done) + " of " + Hundredths(total) + "  " +
                   std::to_string(total ? done * 100 / total : 100) + "%");
  }

  int Finish(int code) {
    console.Status("");
    // The library stops the deck and the transmit itself when the camcorder
    // reports the end; any other end is ours to stop.
    if (started && !ended) {
      if (options.direct) device.StopDirectRecording();
      else device.StopBatchRecording();
    }
    if (code == kExitOk) {
      console.Line("recorded " + PathText(options.file) + ": " + Hundredths(total) + " of tape; the deck stands at " +
                   DeckPositionText(session));
    }
    if (code == kExitInterrupted) console.Error(Interrupt::StoppedBy() + "; what reached the tape stays there");
    return code;
  }

  int Fail(int code, const std::string& text) {
    console.Error(text);
    return code;
  }

  Session& session;
  ZeltoVideoDevice& device;
  const RecordOptions& options;
  Console& console;
  EventPump pump;
  std::uint64_t total = 0;  // hundredths of a second of tape, margins included
  bool started = false;
  bool dataFlowing = false;
  bool ended = false;
  // The state the deck went to when it left recording under the data.
  std::optional<_OxVideoDeviceState> leftFor;
  DWORD dataStartedAt = 0;
};

}  // namespace

bool CheckTransportStream(const std::filesystem::path& file, std::uint64_t* bytes, std::string* why) {
  // The camcorder's own check: a file taken here is never refused once the deck runs.
  const std::optional<std::uint64_t> packets = zelto::sim::TransportStreamFileBytes(file, why);
  if (!packets) {
    *why = PathText(file) + ": " + *why;
    return false;
  }
  *bytes = *packets;
  return true;
}

std::uint32_t RecordingHundredths(std::uint64_t bytes) {
  constexpr auto rate = static_cast<std::uint64_t>(kStreamBytesPerSecond);
  const std::uint64_t hundredths = (bytes * 100 + rate - 1) / rate;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(hundredths, 0x7FFFFFFF));
}

int RunRecord(Session& session, const RecordOptions& options, Console& console) {
  return RecordRun(session, options, console).Run();
}

}  // namespace zelto::app
