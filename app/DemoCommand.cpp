#include "app/DemoCommand.h"

#include <sstream>

#include "app/DeckButtons.h"
#include "app/EventPump.h"
#include "app/ExitCode.h"
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
    if (!Button(DeckAction::Rewind)) return Fail();
    if (!Reach(OX_DEVICE_STATE_STOP, kWindLimit, "the tape's start")) return Fail();

    console.Heading("4. play");
    if (!Button(DeckAction::Play)) return Fail();
    if (!Reach(OX_DEVICE_STATE_PLAY, kButtonLimit, "play")) return Fail();
    if (!Dwell(4s)) return Fail();

    const std::uint32_t track = DemoSeekTrack(session.StartCassette());
    console.Heading("5. seek to the scene at ATN " + std::to_string(track));
    pump.NewSearch();
    if (!device.StartSeekATN(track)) return Fail("the deck took no seek");
    const auto found = [](const FeedEvent* e) { return e != nullptr && e->Is(OX_SCENE_SEARCH_COMPLETE); };
    if (!Check(pump.Until(found, kWindLimit), "the scene search did not finish")) return Fail();
    if (!Dwell(3s)) return Fail();

    console.Heading("6. stop");
    if (!Button(DeckAction::Stop)) return Fail();
    if (!Reach(OX_DEVICE_STATE_STOP, kButtonLimit, "stop")) return Fail();
    // Stopping ends the scene's play; the deck says so on its next look.
    const auto ended = [](const FeedEvent* e) { return e != nullptr && e->Is(OX_SCENE_PLAYING_COMPLETE); };
    if (!Check(pump.Until(ended, kButtonLimit), "the scene's play was not reported ended")) return Fail();
    // What the deck still has to say about stopping.
    if (!Dwell(1s)) return Fail();

    std::ostringstream took;
    took.precision(1);
    took << std::fixed << std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    console.Heading("done in " + took.str() + " s; the deck stands at " + TimeCodeText(device.GetTimecode()));
    return kExitOk;
  }

private:
  bool Button(DeckAction action) {
    failure = DeckRefusal(action, device.GetDeviceState(), device.GetMediaInfo(), device.GetCamcorderMode());
    if (!failure.empty()) return false;
    PressDeckButton(device, action);
    return true;
  }

  bool Reach(_OxVideoDeviceState state, std::chrono::seconds limit, const std::string& what) {
    return Check(pump.UntilState(state, limit), "the deck did not reach " + what);
  }

  bool Dwell(std::chrono::seconds span) {
    if (pump.For(span) != EventPump::Outcome::Interrupted) return true;
    failure = "interrupted";
    return false;
  }

  bool Check(EventPump::Outcome outcome, const std::string& timedOut) {
    if (outcome == EventPump::Outcome::Done) return true;
    failure = outcome == EventPump::Outcome::Interrupted ? "interrupted" : timedOut;
    return false;
  }

  int Fail(const std::string& why = {}) {
    console.Error("demo stopped: " + (why.empty() ? failure : why));
    return kExitDeviceFailed;
  }

  Session& session;
  ZeltoVideoDevice& device;
  Console& console;
  EventPump pump;
  std::chrono::steady_clock::time_point started;
  std::string failure;
};

}  // namespace

zelto::sim::Cassette DemoCassette() {
  zelto::sim::Cassette cassette = zelto::sim::Cassette::Default();
  cassette.positionTrack = 30 * zelto::sim::kTracksPerSecond;
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
