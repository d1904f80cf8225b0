// Events of batch and direct capturing, and the capture error ids shared with
// scapturing.
#pragma once

#include "host/foundation/OxString.h"

namespace Orvex {

// Why a capture stopped. The device passes these through; it raises 4 when
// the camcorder is removed during scapturing and 7 when the deck stops
// playing under a capture or the capture cannot be driven at all. During a
// batch or direct capture it raises 4 when the camcorder is removed, 3 when
// the driver cannot write a capture file (a full disk among the causes; the
// driver does not tell which), 7 when the deck will not search for a batch
// section, and 1 for any other device error.
enum _OxCapturingErrorID : int {
  OX_CAPTURING_ERROR_NONE = 0,
  OX_CAPTURING_ERROR_UNKNOWN = 1,
  OX_CAPTURING_ERROR_DISK_FULL = 2,
  OX_CAPTURING_ERROR_FILE_WRITE = 3,
  OX_CAPTURING_ERROR_DEVICE_REMOVED = 4,
  OX_CAPTURING_ERROR_TAPE_EJECTED = 5,
  OX_CAPTURING_ERROR_NO_STREAM = 6,
  OX_CAPTURING_ERROR_DECK_STOPPED = 7
};

enum _OxCapturingEventID : int {
  OX_CAPTURING_CREATE_FILE = 0,       // file name: the file that was opened
  OX_CAPTURING_COMPLETE_FILE = 1,     // file name: the file that was closed
  OX_CAPTURING_ERROR_STOP = 2,        // error id
  OX_CAPTURING_COMPLETE_SECTION = 3,  // one batch section done
  OX_CAPTURING_COMPLETE_BATCH = 4,    // the whole batch done
  OX_CAPTURING_SEARCH_IN = 5,         // seeking the next section's in-point
  OX_CAPTURING_SEARCH_OUT = 6         // in-point reached, capture begins
};

class OxCapturingEvent {
public:
  explicit OxCapturingEvent(_OxCapturingEventID id, const OxString& fileName = OxString(),
                            _OxCapturingErrorID errorId = OX_CAPTURING_ERROR_NONE)
      : id(id), fileName(fileName), errorId(errorId) {}
  virtual ~OxCapturingEvent() = default;
  OxCapturingEvent(const OxCapturingEvent&) = default;
  OxCapturingEvent& operator=(const OxCapturingEvent&) = default;

  _OxCapturingEventID GetEventID() const { return id; }
  const OxString& GetFileName() const { return fileName; }
  _OxCapturingErrorID GetErrorID() const { return errorId; }

private:
  _OxCapturingEventID id;
  OxString fileName;
  _OxCapturingErrorID errorId;
};

}  // namespace Orvex
