#include "zelto/device/ConnectedZeltoVideoDevice.h"

#include <utility>

#include "zelto/bridge/DriverInterfaces.h"

ConnectedZeltoVideoDevice::ConnectedZeltoVideoDevice() : unit(nullptr) {}

ConnectedZeltoVideoDevice::ConnectedZeltoVideoDevice(const ConnectedZeltoVideoDevice& other) : unit(nullptr) {
  SetUnit(other.unit);
}

ConnectedZeltoVideoDevice& ConnectedZeltoVideoDevice::operator=(const ConnectedZeltoVideoDevice& other) {
  if (this != &other) SetUnit(other.unit);
  return *this;
}

ConnectedZeltoVideoDevice::~ConnectedZeltoVideoDevice() { Release(); }

void ConnectedZeltoVideoDevice::SetUnit(IUnitMoniker* newUnit) {
  if (newUnit) newUnit->AddRef();
  IUnitMoniker* old = std::exchange(unit, newUnit);
  if (old) old->Release();
}

void ConnectedZeltoVideoDevice::Release() {
  if (IUnitMoniker* old = std::exchange(unit, nullptr)) old->Release();
}
