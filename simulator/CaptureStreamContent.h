// What CaptureStreamWriter puts into a capture file, frame by frame: encoded
// video, paced to the stream rate by the muxer, where the build has FFmpeg
// (CaptureVideoContent.cpp); only the stream's tables where it has not
// (CapturePaddingContent.cpp), the writer padding after each frame. Private
// to the writer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "simulator/SyntheticPicture.h"

namespace zelto::sim {

// Takes the stream's bytes in order; false when they could not all be stored.
using CaptureSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

class CaptureStreamContent {
 public:
  virtual ~CaptureStreamContent() = default;
  // One frame showing `picture`, stamped `pts` (in frames).
  virtual bool Write(const PictureContent& picture, std::int64_t pts, std::string* error) = 0;
  // Everything held back goes out to the sink.
  virtual bool Finish(std::string* error) = 0;
};

struct CaptureStreamShape {
  int width;
  int height;
  unsigned framesPerSecond;
  std::uint64_t bytesPerSecond;
};

std::unique_ptr<CaptureStreamContent> CreateCaptureStreamContent(CaptureSink sink, const CaptureStreamShape& shape,
                                                                 std::string* error);

}  // namespace zelto::sim
