// The driver classes that handle a list of stream types, as the driver's
// class enumerator reports them. Owns the class array (task memory).
#pragma once

#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/bridge/PluginFunction.h"
#include "zelto/bridge/ZeltoComPtr.h"

class DriverClassList {
public:
  // Throws std::bad_alloc when the enumerator is missing or the query fails.
  DriverClassList(const ZeltoComPtr<IDriverClassEnumerator>& enumerator, const PluginFunction& streamTypes);
  virtual ~DriverClassList();
  DriverClassList(const DriverClassList&) = delete;
  DriverClassList& operator=(const DriverClassList&) = delete;

  DWORD GetCount() const { return list.classes ? list.count : 0; }
  const CLSID& GetClass(DWORD index) const { return list.classes[index]; }

private:
  DRIVER_CLASS_LIST list;
};
