#include "simulator/SimulatedDriver.h"

#include "simulator/DriverObjects.h"

namespace zelto::sim {

SimulatedDriver::~SimulatedDriver() { Unregister(); }

HRESULT SimulatedDriver::Register(const DriverConfig& config) {
  if (Registered()) return CO_E_OBJISREG;
  for (std::size_t i = 0; i < config.classes.size(); ++i) {
    if (IsEqualGUID(config.classes[i].clsid, CLSID_DriverClassEnumerator)) return E_INVALIDARG;
    for (std::size_t j = 0; j < i; ++j)
      if (IsEqualGUID(config.classes[i].clsid, config.classes[j].clsid)) return E_INVALIDARG;
  }
  auto context = std::make_shared<detail::DriverContext>();
  context->config = config;
  try {
    context->camcorder = std::make_shared<Camcorder>(config.camcorder);
  } catch (const StateFileError&) {
    throw;  // the caller says what is wrong with the file
  } catch (const std::exception&) {
    return E_OUTOFMEMORY;
  }
  context->audit = std::make_shared<ReferenceAudit>();
  camcorder_ = context->camcorder;
  audit_ = context->audit;
  std::shared_ptr<const detail::DriverContext> shared = std::move(context);

  auto add = [&](const CLSID& clsid, int classIndex) {
    IClassFactory* factory = detail::NewClassFactory(shared, classIndex);
    if (!factory) return E_OUTOFMEMORY;
    DWORD cookie = 0;
    const HRESULT hr = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    factory->Release();  // the registration holds it now
    if (SUCCEEDED(hr) && cookie != 0) cookies_.push_back(cookie);
    return hr;
  };
  HRESULT hr = S_OK;
  if (config.registerEnumerator) hr = add(CLSID_DriverClassEnumerator, -1);
  for (std::size_t i = 0; SUCCEEDED(hr) && i < config.classes.size(); ++i) {
    if (config.classes[i].registered) hr = add(config.classes[i].clsid, static_cast<int>(i));
  }
  registered_ = true;
  if (FAILED(hr)) {
    Unregister();
    return hr;
  }
  return S_OK;
}

HRESULT SimulatedDriver::Unregister() {
  HRESULT result = S_OK;
  for (DWORD cookie : cookies_) {
    const HRESULT hr = CoRevokeClassObject(cookie);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  cookies_.clear();
  if (!registered_) return result;
  registered_ = false;
  if (camcorder_) camcorder_->CloseStateFile();
  return result;
}

}  // namespace zelto::sim
