// The library's exception for a driver interface that is not there.
#pragma once

#include <cstdint>

#include "zelto/device/ZeltoApi.h"

class ZELTO_API ZeltoVideoDeviceInstanceException {
public:
  // The only code in use: the interface asked for is missing.
  static constexpr std::uint32_t kMissingInterface = 2;

  explicit ZeltoVideoDeviceInstanceException(std::uint32_t code);
  virtual ~ZeltoVideoDeviceInstanceException();
  ZeltoVideoDeviceInstanceException(const ZeltoVideoDeviceInstanceException&) = default;
  ZeltoVideoDeviceInstanceException& operator=(const ZeltoVideoDeviceInstanceException&) = default;

  std::uint32_t code;
};
