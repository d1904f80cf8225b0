// The split a capture gives the library, at the frame rate of the tape it
// captures. The library turns a split by frames into whole MiB at the frame
// rate of the application's video system, which it reads as the capture
// starts: that is set to the tape's for the capture's life, and a split by
// frames that the library's rule cannot give as asked is given as the
// nearest size instead (see ChooseSplit).
#pragma once

#include <optional>
#include <string>

#include "app/CapturePlan.h"
#include "app/Session.h"

namespace zelto::app {

class CaptureSplit {
public:
  // fromTrack: where the capture begins on the tape; none: at its start
  // (a whole-tape capture rewinds first).
  CaptureSplit(Session& session, const SplitRule& asked, std::optional<std::uint32_t> fromTrack);
  ~CaptureSplit();  // the application's video system as it was
  CaptureSplit(const CaptureSplit&) = delete;
  CaptureSplit& operator=(const CaptureSplit&) = delete;

  const SplitRule& Rule() const { return choice.rule; }
  unsigned FramesPerSecond() const { return framesPerSecond; }
  // What each part of a split by frames really holds; empty for other splits.
  std::string Note() const;

private:
  SplitRule asked;
  unsigned framesPerSecond = 30;
  SplitChoice choice;
  int videoSystemBefore = 0;
};

}  // namespace zelto::app
