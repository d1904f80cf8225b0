#include "zelto/device/ZeltoVideoDeviceInstanceException.h"

ZeltoVideoDeviceInstanceException::ZeltoVideoDeviceInstanceException(std::uint32_t code) : code(code) {}

ZeltoVideoDeviceInstanceException::~ZeltoVideoDeviceInstanceException() = default;
