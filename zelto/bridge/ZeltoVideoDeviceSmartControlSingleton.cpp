#include "zelto/bridge/ZeltoVideoDeviceSmartControlSingleton.h"

namespace {
ZeltoVideoDeviceSmartControlSingleton* instance = nullptr;
}  // namespace

ZeltoVideoDeviceSmartControlSingleton::ZeltoVideoDeviceSmartControlSingleton() = default;
ZeltoVideoDeviceSmartControlSingleton::~ZeltoVideoDeviceSmartControlSingleton() = default;

ZeltoVideoDeviceSmartControlSingleton* ZeltoVideoDeviceSmartControlSingleton::GetInstance() {
  if (!instance) instance = new ZeltoVideoDeviceSmartControlSingleton();
  return instance;
}

void ZeltoVideoDeviceSmartControlSingleton::DeleteInstance() {
  delete instance;
  instance = nullptr;
}

ZeltoVideoDeviceSmartControlSingletonStack::~ZeltoVideoDeviceSmartControlSingletonStack() {
  ZeltoVideoDeviceSmartControlSingleton::DeleteInstance();
}
