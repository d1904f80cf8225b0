// zelto status: what the camcorder reports, as lines or one JSON object.
#pragma once

#include <optional>
#include <string>

#include "app/Console.h"
#include "app/Options.h"
#include "app/JobLock.h"
#include "app/Session.h"
#include "host/foundation/OxDeviceTypes.h"
#include "host/foundation/OxTimeCode.h"

class ZeltoVideoDevice;

namespace zelto::app {

struct StatusReport {
  std::string model;
  std::string driver;  // "simulated" or "system"
  Orvex::_OxVideoDeviceState state = Orvex::OX_DEVICE_STATE_UNKNOWN;
  Orvex::_OxMediaInfo media = Orvex::OX_MEDIA_NONE;
  Orvex::_OxCamcorderMode mode = Orvex::OX_CAMCORDER_MODE_UNKNOWN;
  Orvex::OxTimeCode timeCode;
  std::optional<TapePosition> tape;  // the simulated camcorder's, where known
  // The simulated camcorder's preview, once anything has told it something.
  std::optional<zelto::sim::PreviewSettings> preview;
  // The job that holds the camcorder now (a capture, a scan, ...), if any.
  std::optional<JobHolder> job;

  static StatusReport Read(Session& session);
  // One line; the fields are listed in the README ("version" counts changes
  // that a script would notice).
  std::string Json() const;
  std::string Lines() const;  // "name  value" lines, each ending in a newline
};

// Where the deck stands, as a line's end: "time code 00:01:02:03" or
// "blank tape", with the tape counter where it is known.
std::string DeckPositionText(Session& session);

// Where the head stands at the end of the tape (known with the simulated
// camcorder): "the tape is at its end, ATN n (it runs from ATN 0 to n)";
// empty anywhere else.
std::string TapeEndText(Session& session);

int RunStatus(Session& session, const StatusOptions& options, Console& console);

}  // namespace zelto::app
