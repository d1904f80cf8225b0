#include "zelto/device/ZeltoVideoDeviceFactory.h"

#include <cwchar>

#include "zelto/bridge/DriverClassList.h"
#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/bridge/PluginFunction.h"
#include "zelto/bridge/ZeltoComPtr.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace {

constexpr const wchar_t kModelPrefix[] = L"HXQ-ZL";
constexpr std::size_t kModelPrefixLength = 6;

bool isOurModel(const wchar_t* model) {
  if (!model) return false;
  // At least six characters, the first six exactly the prefix: wcsncmp stops
  // at a shorter text's terminator and finds it different.
  return std::wcsncmp(model, kModelPrefix, kModelPrefixLength) == 0;
}

// The first unit of one driver class whose model text matches, or an empty
// holder. A unit whose properties cannot be read ends the class.
ZeltoComPtr<IUnitMoniker> findInClass(const CLSID& driverClass) {
  ZeltoComPtr<IUnitCollection> collection;
  if (FAILED(CoCreateInstance(driverClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnitCollection,
                              collection.ReceiveVoid())) ||
      !collection)
    return {};
  ZeltoComPtr<IEnumUnits> units;
  if (FAILED(collection->EnumUnits(units.Receive())) || !units) return {};

  for (;;) {
    ZeltoComPtr<IUnitMoniker> unit;
    ULONG fetched = 0;
    if (units->Next(1, unit.Receive(), &fetched) != S_OK || !unit) return {};
    ZeltoComPtr<IUnitProperties> properties;
    if (FAILED(unit.QueryInto(IID_IUnitProperties, properties)) || !properties) return {};
    const wchar_t* model = nullptr;
    if (FAILED(properties->GetStringProperty(L"UnitModelText", &model))) return {};
    if (isOurModel(model)) return unit;
  }
}

}  // namespace

bool ZeltoVideoDeviceFactory::searchConnectedZeltoVideoDevice(ConnectedZeltoVideoDevice& connected) {
  if (!connected.IsEmpty()) return true;

  ZeltoComPtr<IDriverClassEnumerator> enumerator;
  if (FAILED(CoCreateInstance(CLSID_DriverClassEnumerator, nullptr, CLSCTX_INPROC_SERVER, IID_IDriverClassEnumerator,
                              enumerator.ReceiveVoid())) ||
      !enumerator)
    return false;

  PluginFunction streamTypes(2);
  streamTypes.SetFunction(STREAMTYPE_VIDEOSYSTEM0);
  streamTypes.SetFunction(STREAMTYPE_VIDEOSYSTEM1);
  DriverClassList classes(enumerator, streamTypes);

  for (DWORD i = 0; i < classes.GetCount(); ++i) {
    ZeltoComPtr<IUnitMoniker> unit = findInClass(classes.GetClass(i));
    if (unit) {
      connected.SetUnit(unit.Get());
      return true;
    }
  }
  return false;
}

ZeltoVideoDevice* ZeltoVideoDeviceFactory::GetZeltoVideoDevice() {
  ConnectedZeltoVideoDevice connected;
  if (!searchConnectedZeltoVideoDevice(connected)) return nullptr;
  try {
    return new ZeltoVideoDevice(connected);
  } catch (...) {
    // A device that cannot bind its driver or its database is no device.
    return nullptr;
  }
}
