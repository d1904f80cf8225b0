// Events of scapturing (whole-cassette capture).
#pragma once

#include "host/devevents/OxCapturingEvent.h"
#include "host/foundation/OxString.h"

namespace Orvex {

enum _OxScapturingEventID : int {
  OX_SCAPTURING_CREATE_FILE = 0,     // file name: the file that was opened
  OX_SCAPTURING_COMPLETE_SETUP = 1,  // set-up done, ready to start
  OX_SCAPTURING_COMPLETE = 2,        // the run ended normally
  OX_SCAPTURING_ERROR_STOP = 3       // error id (a capturing error id)
};

class OxScapturingEvent {
public:
  explicit OxScapturingEvent(_OxScapturingEventID id, const OxString& fileName = OxString(),
                             _OxCapturingErrorID errorId = OX_CAPTURING_ERROR_NONE)
      : id(id), fileName(fileName), errorId(errorId) {}
  virtual ~OxScapturingEvent() = default;
  OxScapturingEvent(const OxScapturingEvent&) = default;
  OxScapturingEvent& operator=(const OxScapturingEvent&) = default;

  _OxScapturingEventID GetEventID() const { return id; }
  const OxString& GetFileName() const { return fileName; }
  _OxCapturingErrorID GetErrorID() const { return errorId; }

private:
  _OxScapturingEventID id;
  OxString fileName;
  _OxCapturingErrorID errorId;
};

}  // namespace Orvex
