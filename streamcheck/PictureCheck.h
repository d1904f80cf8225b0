// The pictures of a stream, decoded: how many, which the decoder found
// damaged (decode errors, pictures it marked corrupt, or made of packets
// the demuxer found lost or flagged) and their times, and the frame rate.
// FFmpeg's demuxer and decoder where the build has them
// (PictureCheckFfmpeg.cpp); elsewhere nothing is checked and the report
// says so (PictureCheckUnavailable.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "streamcheck/StreamReport.h"

namespace zelto::streamcheck {

// The stream's bytes in order, for the demuxer to pull.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `size` bytes into `data`; 0 at the end (or on a read error).
  virtual std::size_t Read(std::uint8_t* data, std::size_t size) = 0;
  // Whether the end was a read error rather than the stream's end.
  virtual bool ReadFailed() const { return false; }
};

bool CanCheckPictures();

// Reads from `source` (not necessarily to its end) and fills the picture
// fields of `report`: picturesChecked, or picturesNotCheckedWhy.
void CheckPictures(ByteSource& source, StreamReport& report);

}  // namespace zelto::streamcheck
