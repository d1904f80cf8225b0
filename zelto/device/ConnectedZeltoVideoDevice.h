// The result of the unit search: one counted reference to the chosen unit,
// empty until a search succeeds.
#pragma once

#include "zelto/device/ZeltoApi.h"

struct IUnitMoniker;

class ZELTO_API ConnectedZeltoVideoDevice {
public:
  ConnectedZeltoVideoDevice();
  ConnectedZeltoVideoDevice(const ConnectedZeltoVideoDevice& other);
  ConnectedZeltoVideoDevice& operator=(const ConnectedZeltoVideoDevice& other);
  ~ConnectedZeltoVideoDevice();

  // Takes a reference of its own to the unit (null empties the record).
  void SetUnit(IUnitMoniker* unit);
  // Releases the unit and empties the record.
  void Release();
  IUnitMoniker* GetUnit() const { return unit; }
  bool IsEmpty() const { return unit == nullptr; }

private:
  IUnitMoniker* unit;
};
