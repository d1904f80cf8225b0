// The inserted cassette as the deck last saw it. Read on the host's thread
// and written on the message receiver's, hence atomic.
#pragma once

#include <atomic>

#include "host/foundation/OxDeviceTypes.h"

class VideoCassette {
public:
  VideoCassette() = default;
  virtual ~VideoCassette();
  VideoCassette(const VideoCassette&) = delete;
  VideoCassette& operator=(const VideoCassette&) = delete;

  // A new media report describes a new cassette: whatever else was known
  // about the old one is dropped with it.
  void SetMediaInfo(Orvex::_OxMediaInfo value);
  Orvex::_OxMediaInfo GetMediaInfo() const;

private:
  std::atomic<Orvex::_OxMediaInfo> mediaInfo{Orvex::OX_MEDIA_NONE};
};
