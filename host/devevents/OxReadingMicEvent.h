// Progress of the cassette-memory database manager reading a cassette.
#pragma once

namespace Orvex {

enum _OxReadingMicEventID : int {
  OX_MIC_READING_START = 0,
  OX_MIC_READING_COMPLETE = 1,
  OX_MIC_READING_ERROR = 2,
  OX_MIC_DATA_CHANGED = 3
};

class OxReadingMicEvent {
public:
  explicit OxReadingMicEvent(_OxReadingMicEventID id) : id(id) {}
  virtual ~OxReadingMicEvent() = default;
  OxReadingMicEvent(const OxReadingMicEvent&) = default;
  OxReadingMicEvent& operator=(const OxReadingMicEvent&) = default;

  _OxReadingMicEventID GetEventID() const { return id; }

private:
  _OxReadingMicEventID id;
};

}  // namespace Orvex
