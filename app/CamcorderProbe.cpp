#include "app/CamcorderProbe.h"

#include <cwchar>

#include "platform/PlatformExtras.h"
#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/bridge/ZeltoComPtr.h"

namespace zelto::app {

namespace {

bool IsOurModel(const wchar_t* model) { return model != nullptr && std::wcsncmp(model, L"HXQ-ZL", 6) == 0; }

std::string ModelInClass(const CLSID& driverClass) {
  ZeltoComPtr<IUnitCollection> collection;
  if (FAILED(CoCreateInstance(driverClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnitCollection,
                              collection.ReceiveVoid())) ||
      !collection)
    return {};
  ZeltoComPtr<IEnumUnits> units;
  if (FAILED(collection->EnumUnits(units.Receive())) || !units) return {};
  // Bounded, in case a driver never says it has no more units.
  for (int i = 0; i < 256; ++i) {
    ZeltoComPtr<IUnitMoniker> unit;
    ULONG fetched = 0;
    if (units->Next(1, unit.Receive(), &fetched) != S_OK || !unit) return {};
    ZeltoComPtr<IUnitProperties> properties;
    if (FAILED(unit.QueryInto(IID_IUnitProperties, properties)) || !properties) return {};
    const wchar_t* model = nullptr;
    if (FAILED(properties->GetStringProperty(L"UnitModelText", &model))) return {};
    if (IsOurModel(model)) return zelto::platform::ToUtf8(model);
  }
  return {};
}

}  // namespace

std::string ProbeCamcorderModel() {
  ZeltoComPtr<IDriverClassEnumerator> enumerator;
  if (FAILED(CoCreateInstance(CLSID_DriverClassEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IDriverClassEnumerator, enumerator.ReceiveVoid())) ||
      !enumerator)
    return {};
  const GUID streamTypes[] = {STREAMTYPE_VIDEOSYSTEM0, STREAMTYPE_VIDEOSYSTEM1};
  DRIVER_CLASS_LIST classes{0, nullptr};
  if (FAILED(enumerator->GetDriverClasses(2, streamTypes, &classes))) return {};
  std::string model;
  for (DWORD i = 0; i < classes.count && classes.classes != nullptr && model.empty(); ++i)
    model = ModelInClass(classes.classes[i]);
  CoTaskMemFree(classes.classes);
  return model;
}

}  // namespace zelto::app
