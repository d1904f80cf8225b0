// Events of recording a file onto tape.
#pragma once

namespace Orvex {

// Why a recording stopped. The device raises only 1, when the driver reports
// that the transmit stopped on an error.
enum _OxRecordingErrorID : int {
  OX_RECORDING_ERROR_NONE = 0,
  OX_RECORDING_ERROR_TRANSMIT = 1,
  OX_RECORDING_ERROR_WRITE_PROTECTED = 2,
  OX_RECORDING_ERROR_DEVICE_REMOVED = 3
};

enum _OxRecordingEventID : int {
  OX_RECORDING_START = 0,             // the deck has started recording
  OX_RECORDING_DATA_START = 1,        // data starts to flow to the camcorder
  OX_RECORDING_COMPLETE_SECTION = 2,  // one item of the list done
  OX_RECORDING_COMPLETE = 3,          // the recording ended normally
  OX_RECORDING_ERROR_STOP = 4          // error id
};

class OxRecordingEvent {
public:
  explicit OxRecordingEvent(_OxRecordingEventID id, _OxRecordingErrorID errorId = OX_RECORDING_ERROR_NONE)
      : id(id), errorId(errorId) {}
  virtual ~OxRecordingEvent() = default;
  OxRecordingEvent(const OxRecordingEvent&) = default;
  OxRecordingEvent& operator=(const OxRecordingEvent&) = default;

  _OxRecordingEventID GetEventID() const { return id; }
  _OxRecordingErrorID GetErrorID() const { return errorId; }

private:
  _OxRecordingEventID id;
  _OxRecordingErrorID errorId;
};

}  // namespace Orvex
