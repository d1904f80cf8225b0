// The host's only way to a device: every call searches the driver for the
// connected camcorder again and returns a new device, or null.
#pragma once

#include "zelto/device/ConnectedZeltoVideoDevice.h"
#include "zelto/device/ZeltoApi.h"

class ZeltoVideoDevice;

class ZELTO_API ZeltoVideoDeviceFactory {
public:
  // COM must be initialised on the calling thread, which becomes the thread
  // the device's driver interfaces live on. The caller owns the result.
  // std::bad_alloc leaves when the driver cannot list its classes.
  static ZeltoVideoDevice* GetZeltoVideoDevice();

private:
  friend class ZeltoVideoDeviceFactoryAccess;
  // True at once when the record already holds a unit.
  static bool searchConnectedZeltoVideoDevice(ConnectedZeltoVideoDevice& connected);
};
