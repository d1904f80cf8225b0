#include "zelto/bridge/DriverClassList.h"

#include "zelto/bridge/ZeltoBadAllocation.h"

DriverClassList::DriverClassList(const ZeltoComPtr<IDriverClassEnumerator>& enumerator,
                                 const PluginFunction& streamTypes)
    : list{0, nullptr} {
  if (!enumerator) throw ZeltoBadAllocation();
  if (FAILED(enumerator->GetDriverClasses(streamTypes.GetCapacity(), streamTypes.GetArray(), &list))) {
    // A failing driver may still have handed out an array.
    CoTaskMemFree(list.classes);
    throw ZeltoBadAllocation();
  }
}

DriverClassList::~DriverClassList() {
  if (list.classes) CoTaskMemFree(list.classes);
}
