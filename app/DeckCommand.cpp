#include "app/DeckCommand.h"

#include <sstream>

#include "app/DeckButtons.h"
#include "app/EventPump.h"
#include "app/ExitCode.h"
#include "app/Names.h"
#include "app/Session.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;

namespace {

std::string Seconds(std::chrono::milliseconds span) {
  std::ostringstream text;
  text << static_cast<double>(span.count()) / 1000.0 << " s";
  return text.str();
}

}  // namespace

std::chrono::milliseconds DefaultDeckTimeout(DeckAction action) {
  // A whole tape winds in a few minutes; the other buttons answer at once.
  return action == DeckAction::Seek ? std::chrono::milliseconds(300'000) : std::chrono::milliseconds(30'000);
}

int RunDeck(Session& session, const DeckOptions& options, Console& console) {
  ZeltoVideoDevice& device = session.Device();
  const _OxVideoDeviceState before = device.GetDeviceState();
  const std::string refusal = DeckRefusal(options.action, before, device.GetMediaInfo(), device.GetCamcorderMode());
  if (!refusal.empty()) {
    console.Error(refusal);
    return kExitDeviceFailed;
  }
  const std::chrono::milliseconds limit =
      options.timeoutSeconds ? std::chrono::milliseconds(static_cast<long long>(*options.timeoutSeconds * 1000.0))
                             : DefaultDeckTimeout(options.action);
  // Quiet: the command reports the outcome, not every step on the way.
  EventPump pump(device, session.Feed(), console, false);

  if (options.action == DeckAction::Seek) {
    if (!device.StartSeekATN(options.track)) {
      console.Error("the deck took no seek");
      return kExitDeviceFailed;
    }
    if (!options.wait) {
      console.Line("seek to ATN " + std::to_string(options.track) + " sent");
      return kExitOk;
    }
    const auto found = [](const FeedEvent* e) { return e != nullptr && e->Is(OX_SCENE_SEARCH_COMPLETE); };
    switch (pump.Until(found, limit)) {
      case EventPump::Outcome::Done:
        console.Line("scene found at ATN " + std::to_string(options.track) + ", playing from " +
                     TimeCodeText(device.GetTimecode()));
        return kExitOk;
      case EventPump::Outcome::Interrupted: console.Error("interrupted"); return kExitDeviceFailed;
      case EventPump::Outcome::TimedOut: break;
    }
    console.Error("the seek to ATN " + std::to_string(options.track) + " did not finish within " + Seconds(limit) +
                  " (deck state: " + DeviceStateName(device.GetDeviceState()) + ")");
    return kExitDeviceFailed;
  }

  const _OxVideoDeviceState target = *DeckTarget(options.action, before);
  PressDeckButton(device, options.action);
  if (!options.wait) {
    console.Line(std::string(DeckActionWord(options.action)) + " sent (deck was " + DeviceStateName(before) + ")");
    return kExitOk;
  }
  switch (pump.UntilState(target, limit)) {
    case EventPump::Outcome::Done:
      console.Line("deck: " + DeviceStateName(target) + " at " + TimeCodeText(device.GetTimecode()));
      return kExitOk;
    case EventPump::Outcome::Interrupted: console.Error("interrupted"); return kExitDeviceFailed;
    case EventPump::Outcome::TimedOut: break;
  }
  console.Error("the deck did not reach " + DeviceStateName(target) + " within " + Seconds(limit) +
                " (it reports " + DeviceStateName(device.GetDeviceState()) + ")");
  return kExitDeviceFailed;
}

}  // namespace zelto::app
