#include "app/DemoCommand.h"

#include <ctime>
#include <sstream>

#include "app/CaptureCommand.h"
#include "app/DeckButtons.h"
#include "app/EventPump.h"
#include "app/ExitCode.h"
#include "app/Interrupt.h"
#include "app/Names.h"
#include "app/Session.h"
#include "app/StatusCommand.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;
using namespace std::chrono_literals;

namespace {

// Generous limits for each step; on the default cassette each takes seconds.
constexpr auto kWindLimit = 300s;
constexpr auto kButtonLimit = 30s;

// The date and time, naming each tour's folder of files.
std::string FolderStamp() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

}  // namespace

std::optional<std::filesystem::path> MakeTourFolder(const std::filesystem::path& parent, std::string* why) {
  std::error_code ec;
  std::filesystem::create_directories(parent, ec);
  const std::string stamp = FolderStamp();
  for (int n = 1; n < 1000; ++n) {
    const std::filesystem::path folder = parent / (n == 1 ? stamp : stamp + "-" + std::to_string(n));
    // Made, not found: creating a folder that exists fails without an error.
    if (std::filesystem::create_directory(folder, ec)) return folder;
    if (ec && ec != std::errc::file_exists) {
      *why = "no folder for the tour's files can be made in " + PathText(parent) + ": " + ec.message();
      return std::nullopt;
    }
  }
  *why = "no free folder name for the tour's files in " + PathText(parent);
  return std::nullopt;
}

namespace {

class Tour {
public:
  Tour(Session& session, Console& console)
      : session(session), device(session.Device()), console(console),
        pump(device, session.Feed(), console), started(std::chrono::steady_clock::now()) {}

  int Run() {
    console.Heading("1. find the camcorder");
    console.Line("found " + session.Model() + " through the " +
                 (session.Simulated() ? "simulated" : "system") + " driver");

    console.Heading("2. status");
    console.Out() << StatusReport::Read(session).Lines() << std::flush;

    console.Heading("3. rewind to the start of the tape");
    if (device.GetDeviceState() != OX_DEVICE_STATE_STOP) {
      if (!Button(DeckAction::Stop) || !Reach(OX_DEVICE_STATE_STOP, kButtonLimit, "stop")) return Fail();
    }
    if (const std::optional<TapePosition> tape = session.Position(); tape && tape->track == 0) {
      console.Line("the tape is at its start already");
    } else {
      pump.Drain();
      if (!Button(DeckAction::Rewind)) return Fail();
      _OxVideoDeviceState ended = OX_DEVICE_STATE_REWIND;
      if (!Check(pump.UntilWindEnds(OX_DEVICE_STATE_REWIND, false, kWindLimit, &ended), "the rewind did not end"))
        return Fail();
    }

    console.Heading("4. play until the picture comes");
    if (!Button(DeckAction::Play)) return Fail();
    if (!Reach(OX_DEVICE_STATE_PLAY, kButtonLimit, "play")) return Fail();
    // The stream comes on where the first recording starts; a tape that
    // ends first stops the deck.
    const auto streamOrEnd = [](const FeedEvent* e) {
      return e != nullptr && (e->Is(OX_NOTIFY_STREAMING_ON) || e->state == OX_DEVICE_STATE_STOP);
    };
    if (!Check(pump.Until(streamOrEnd, kWindLimit), "neither a picture nor the end of the tape came")) return Fail();

    const std::uint32_t track = DemoSeekTrack(session.CurrentCassette());
    console.Heading("5. seek to the scene at ATN " + std::to_string(track));
    pump.NewSearch();
    if (!device.StartSeekATN(track)) return Fail("the deck took no seek");
    const auto searched = [](const FeedEvent* e) {
      return e != nullptr && (e->Is(OX_SCENE_SEARCH_COMPLETE) || e->Is(OX_SCENE_PLAYING_COMPLETE));
    };
    if (!Check(pump.Until(searched, kWindLimit), "the scene search did not finish")) return Fail();

    console.Heading("6. stop");
    if (device.GetDeviceState() != OX_DEVICE_STATE_STOP) {
      if (!Button(DeckAction::Stop)) return Fail();
      // The deck announces its stop; the scene's play ends with it, which
      // the deck says on its next look.
      bool stopped = false;
      bool ended = false;
      const auto both = [&](const FeedEvent* e) {
        if (e == nullptr) return false;
        stopped = stopped || e->state == OX_DEVICE_STATE_STOP;
        ended = ended || e->Is(OX_SCENE_PLAYING_COMPLETE);
        return stopped && ended;
      };
      if (!Check(pump.Until(both, kButtonLimit), "the deck did not stop with the scene's play ended")) return Fail();
    }

    console.Heading("7. capture the first two scenes in a batch");
    CaptureOptions capture;
    capture.kind = CaptureOptions::Kind::Batch;
    std::string why;
    const std::optional<std::filesystem::path> folder = MakeTourFolder(session.DataFolder() / "demo-captures", &why);
    if (!folder) {
      failure = why;
      failureCode = kExitStateFile;
      return Fail();
    }
    capture.folder = *folder;
    capture.name = "Demo";
    capture.sections = {"scene:1", "scene:2"};
    if (session.CurrentCassette() && session.CurrentCassette()->scenes.size() < 2) capture.sections.pop_back();
    // The tour's tape is worn in one place on purpose: the capture's report
    // shows what that does, reads the stretch again to mend the file, and
    // the tour goes on whatever is left.
    capture.retries = 2;
    if (const int code = RunCapture(session, capture, console); code != kExitOk && code != kExitDamaged) return code;

    std::ostringstream took;
    took.precision(1);
    took << std::fixed << std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    console.Heading("done in " + took.str() + " s; the deck stands at " + DeckPositionText(session));
    return kExitOk;
  }

private:
  bool Button(DeckAction action) {
    failure = DeckRefusal(action, device.GetDeviceState(), device.GetMediaInfo(), device.GetCamcorderMode());
    if (!failure.empty()) {
      failureCode = kExitRefused;
      return false;
    }
    PressDeckButton(device, action);
    return true;
  }

  bool Reach(_OxVideoDeviceState state, std::chrono::seconds limit, const std::string& what) {
    return Check(pump.UntilState(state, limit), "the deck did not reach " + what);
  }

  bool Check(EventPump::Outcome outcome, const std::string& timedOut) {
    // A button pressed in another terminal ends the tour, whatever the
    // wait made of what the deck did then.
    if (const std::optional<DeckTakeover> by = session.DeckTaken()) {
      failure = "another command took the deck: " + by->Text();
      failureCode = kExitTakenOver;
      return false;
    }
    switch (outcome) {
      case EventPump::Outcome::Done: return true;
      case EventPump::Outcome::Interrupted: failure = Interrupt::StoppedBy(); failureCode = kExitInterrupted; break;
      case EventPump::Outcome::OutputFailed: failure = "the output could not be written"; failureCode = kExitOutputFailed; break;
      case EventPump::Outcome::TimedOut: failure = timedOut; failureCode = kExitTimedOut; break;
    }
    return false;
  }

  int Fail(const std::string& why = {}) {
    if (!why.empty()) failureCode = kExitDeviceFailed;
    console.Error("demo stopped: " + (why.empty() ? failure : why));
    return failureCode;
  }

  Session& session;
  ZeltoVideoDevice& device;
  Console& console;
  EventPump pump;
  std::chrono::steady_clock::time_point started;
  std::string failure;
  int failureCode = kExitDeviceFailed;
};

}  // namespace

zelto::sim::Cassette DemoCassette() {
  // Short scenes, so that the tour's capture of two of them takes seconds;
  // the time code runs on across the breaks, as the camcorder continues it.
  using zelto::sim::kTracksPerSecond;
  zelto::sim::Cassette cassette;
  cassette.lengthTracks = 120 * kTracksPerSecond;
  cassette.positionTrack = 20 * kTracksPerSecond;  // the rewind has a way to go
  const auto scene = [](double start, double end, bool wide, const char* recorded) {
    zelto::sim::Scene s;
    s.startTrack = static_cast<std::uint32_t>(start * kTracksPerSecond);
    s.endTrack = static_cast<std::uint32_t>(end * kTracksPerSecond);
    s.recorded = recorded;
    s.wide = wide;
    return s;
  };
  cassette.scenes = {scene(2, 8, true, "2025-07-12T10:14:03"), scene(12, 18, true, "2025-07-12T15:40:51"),
                     scene(25, 31, false, "2025-07-13T09:02:27")};
  for (std::size_t i = 1; i < cassette.scenes.size(); ++i)
    cassette.scenes[i].startFrame = cassette.scenes[i - 1].FrameAt(cassette.scenes[i - 1].endTrack);
  // Half a second of worn tape in the second scene, for the capture's
  // report to find: a few packets lost, a few flagged.
  zelto::sim::Dropout worn;
  worn.startTrack = 15 * kTracksPerSecond;
  worn.endTrack = worn.startTrack + kTracksPerSecond / 2;
  worn.lost = 0.004;
  worn.flagged = 0.002;
  cassette.dropouts.push_back(worn);
  return cassette;
}

std::uint32_t DemoSeekTrack(const std::optional<zelto::sim::Cassette>& cassette) {
  const zelto::sim::Cassette& known = cassette ? *cassette : zelto::sim::Cassette::Default();
  if (known.scenes.size() >= 2) return known.scenes[1].startTrack;
  if (!known.scenes.empty()) return known.scenes[0].startTrack;
  return 0;
}

int RunDemo(Session& session, Console& console) { return Tour(session, console).Run(); }

}  // namespace zelto::app
