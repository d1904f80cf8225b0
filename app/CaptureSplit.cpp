#include "app/CaptureSplit.h"

#include <cstdio>

#include "host/foundation/OxUnique.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

namespace {

// The frame rate the library counts at for a video system.
unsigned FrameRate(int videoSystem) { return videoSystem != 0 ? 25 : 30; }

}  // namespace

CaptureSplit::CaptureSplit(Session& session, const SplitRule& asked, std::optional<std::uint32_t> fromTrack)
    : asked(asked) {
  Orvex::OxUnique& settings = Orvex::OxUnique::GetInstance();
  videoSystemBefore = settings.GetAppVideoSystem();
  // The simulated camcorder's scenes know their rate; the system's driver
  // is known only by what the library was started with.
  std::optional<unsigned> rate;
  if (const std::optional<zelto::sim::Cassette> cassette = session.CurrentCassette())
    rate = FrameRateFrom(*cassette, fromTrack.value_or(0));
  framesPerSecond = rate.value_or(FrameRate(session.Device().GetVideoSystem()));
  settings.SetAppVideoSystem(framesPerSecond == 25 ? 1 : 0);
  choice = ChooseSplit(asked, framesPerSecond);
}

CaptureSplit::~CaptureSplit() { Orvex::OxUnique::GetInstance().SetAppVideoSystem(videoSystemBefore); }

std::string CaptureSplit::Note() const {
  if (asked.kind != SplitRule::Kind::ByDuration) return {};
  char text[256];
  std::snprintf(text, sizeof text, "split by frames: each part holds %u frames (%.2f s) at %u frames/s", choice.framesPerPart,
                choice.secondsPerPart, framesPerSecond);
  std::string note = text;
  if (choice.framesPerPart != asked.frames) {
    note += ", not " + std::to_string(asked.frames) + ": the camcorder splits at whole MiB, and " +
            std::to_string(choice.megabytes) + " MiB comes nearest";
  }
  return note;
}

}  // namespace zelto::app
