// How a scapturing run ends, thrown inside the run and caught there.
#pragma once

#include <cstdint>

class ZeltoVideoDeviceAutoCapturingException {
public:
  // The stop event was signalled.
  static constexpr std::int32_t kStopped = 1;
  // The deck was not playing at a poll that checks it.
  static constexpr std::int32_t kDeckNotPlaying = 2;
  // The stream has ended, or the media information is 2.
  static constexpr std::int32_t kStreamEnded = 3;

  explicit ZeltoVideoDeviceAutoCapturingException(std::int32_t code) : code(code) {}
  virtual ~ZeltoVideoDeviceAutoCapturingException() = default;
  ZeltoVideoDeviceAutoCapturingException(const ZeltoVideoDeviceAutoCapturingException&) = default;
  ZeltoVideoDeviceAutoCapturingException& operator=(const ZeltoVideoDeviceAutoCapturingException&) = default;

  std::int32_t GetCode() const { return code; }

private:
  std::int32_t code;
};
