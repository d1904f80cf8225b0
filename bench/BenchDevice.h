// What the device benchmarks share: a COM apartment with the simulated
// camcorder registered as the system's driver and private settings folders,
// a listener that runs a callback, and a tapped device whose message window
// the benchmark can post driver events to itself.
//
// The tap: the device is built on a unit of our own that binds the simulated
// camcorder's unit and hands the device a smart control that forwards every
// call and remembers the window the device advises. Everything the device
// then does goes to the simulated driver unchanged.
#pragma once

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "host/foundation/OxUnique.h"
#include "host/kel/KelSafeEventListener.h"
#include "platform/PlatformExtras.h"
#include "platform/com.h"
#include "simulator/SimulatedDriver.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace bench {

// COM on this thread, folders of our own, and the simulated camcorder with
// a cassette standing still (the default one unless told), its objects
// free-threaded or kept in this thread's apartment.
class SimulatedCamcorder {
 public:
  explicit SimulatedCamcorder(const char* name, zelto::sim::Cassette cassette = zelto::sim::Cassette::Default(),
                              bool apartmentThreaded = false) {
    ok_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    folder_ = std::filesystem::temp_directory_path() / (std::string("zelto-bench-") + name);
    std::error_code ignored;
    zelto::platform::RemoveTree(folder_, ignored);
    std::filesystem::create_directories(folder_ / "db", ignored);
    std::filesystem::create_directories(folder_ / "tmp", ignored);
    Orvex::OxUnique::GetInstance().SetMicDataBaseFolder(
        Orvex::OxString(zelto::platform::WidePath(folder_ / "db").c_str()));
    Orvex::OxUnique::GetInstance().SetTempFolder(Orvex::OxString(zelto::platform::WidePath(folder_ / "tmp").c_str()));
    zelto::sim::DriverConfig config;
    config.camcorder.cassette = std::move(cassette);
    config.apartmentThreaded = apartmentThreaded;
    ok_ = ok_ && driver_.Register(config) == S_OK;
    if (!ok_) std::fprintf(stderr, "the simulated camcorder could not be registered\n");
  }
  ~SimulatedCamcorder() {
    driver_.Unregister();
    Orvex::OxUnique::GetInstance().ResetToDefaults();
    std::error_code ignored;
    zelto::platform::RemoveTree(folder_, ignored);
    CoUninitialize();
  }
  SimulatedCamcorder(const SimulatedCamcorder&) = delete;
  SimulatedCamcorder& operator=(const SimulatedCamcorder&) = delete;

  bool Ok() const { return ok_; }
  zelto::sim::SimulatedDriver& Driver() { return driver_; }
  // A folder for capture files, made empty and set as the host's capture
  // folder, which is where the device looks for the files the driver makes.
  std::filesystem::path CaptureFolder() {
    const std::filesystem::path captures = folder_ / "captures";
    std::error_code ignored;
    zelto::platform::RemoveTree(captures, ignored);
    std::filesystem::create_directories(captures, ignored);
    Orvex::OxUnique::GetInstance().SetCaptureFolder(Orvex::OxString(zelto::platform::WidePath(captures).c_str()));
    return captures;
  }

 private:
  bool ok_ = false;
  std::filesystem::path folder_;
  zelto::sim::SimulatedDriver driver_;
};

template <typename T>
class CallbackListener : public KelSafeEventListener<T> {
 public:
  explicit CallbackListener(std::function<void(const T&)> onEvent) : onEvent_(std::move(onEvent)) {}
  void OnEvent(const T& event) override { onEvent_(event); }

 private:
  std::function<void(const T&)> onEvent_;
};

namespace detail {

// Reference counting shared by the two tap objects.
template <typename Interface>
class Counted : public Interface {
 public:
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~Counted() = default;

 private:
  std::atomic<ULONG> references_{1};
};

class TapSmartControl final : public Counted<ISmartControl> {
 public:
  TapSmartControl(ISmartControl* real, std::atomic<HWND>* advised) : real_(real), advised_(advised) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISmartControl)) {
      AddRef();
      *object = static_cast<ISmartControl*>(this);
      return S_OK;
    }
    return real_->QueryInterface(iid, object);  // the deck control and the rest are the driver's own
  }
  HRESULT STDMETHODCALLTYPE AdviseWindow(HWND window, DWORD* cookie) override {
    const HRESULT hr = real_->AdviseWindow(window, cookie);
    if (SUCCEEDED(hr)) advised_->store(window);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE UnadviseWindow(DWORD cookie) override { return real_->UnadviseWindow(cookie); }

 private:
  ~TapSmartControl() override { real_->Release(); }
  ISmartControl* real_;
  std::atomic<HWND>* advised_;
};

class TapUnit final : public Counted<IUnitMoniker> {
 public:
  TapUnit(IUnitMoniker* real, std::atomic<HWND>* advised) : real_(real), advised_(advised) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IUnitMoniker)) return E_NOINTERFACE;
    AddRef();
    *object = static_cast<IUnitMoniker*>(this);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved6() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BindToObject(IUnknown* context, IUnitMoniker* left, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    ISmartControl* real = nullptr;
    const HRESULT hr = real_->BindToObject(context, left, IID_ISmartControl, reinterpret_cast<void**>(&real));
    if (FAILED(hr) || !real) return FAILED(hr) ? hr : E_FAIL;
    auto* tap = new TapSmartControl(real, advised_);
    const HRESULT answer = tap->QueryInterface(iid, object);
    tap->Release();
    return answer;
  }

 private:
  ~TapUnit() override { real_->Release(); }
  IUnitMoniker* real_;
  std::atomic<HWND>* advised_;
};

// The first unit of the first driver class, as the factory would walk to it.
inline IUnitMoniker* FirstUnit() {
  IDriverClassEnumerator* enumerator = nullptr;
  if (FAILED(CoCreateInstance(CLSID_DriverClassEnumerator, nullptr, CLSCTX_INPROC_SERVER, IID_IDriverClassEnumerator,
                              reinterpret_cast<void**>(&enumerator))))
    return nullptr;
  const GUID types[] = {STREAMTYPE_VIDEOSYSTEM0, STREAMTYPE_VIDEOSYSTEM1};
  DRIVER_CLASS_LIST list{};
  IUnitMoniker* unit = nullptr;
  if (SUCCEEDED(enumerator->GetDriverClasses(2, types, &list)) && list.count > 0) {
    IUnitCollection* collection = nullptr;
    if (SUCCEEDED(CoCreateInstance(list.classes[0], nullptr, CLSCTX_INPROC_SERVER, IID_IUnitCollection,
                                   reinterpret_cast<void**>(&collection)))) {
      IEnumUnits* units = nullptr;
      if (SUCCEEDED(collection->EnumUnits(&units))) {
        ULONG fetched = 0;
        if (units->Next(1, &unit, &fetched) != S_OK) unit = nullptr;
        units->Release();
      }
      collection->Release();
    }
  }
  CoTaskMemFree(list.classes);
  enumerator->Release();
  return unit;
}

}  // namespace detail

// A device on the simulated camcorder, initialised, whose message window is
// known. Null when any step fails.
class TappedDevice {
 public:
  TappedDevice() {
    IUnitMoniker* real = detail::FirstUnit();
    if (!real) return;
    auto* tap = new detail::TapUnit(real, &window_);
    ConnectedZeltoVideoDevice connected;
    connected.SetUnit(tap);
    tap->Release();
    try {
      device_ = std::make_unique<ZeltoVideoDevice>(connected);
    } catch (const std::exception&) {
      return;
    }
  }
  ~TappedDevice() {
    if (device_) device_->TerminateDevice();
  }
  TappedDevice(const TappedDevice&) = delete;
  TappedDevice& operator=(const TappedDevice&) = delete;

  bool Initialize() {
    return device_ && device_->InitializeDevice(Orvex::OX_VIDEO_SYSTEM_1, true, nullptr, nullptr, false, true) &&
           window_.load() != nullptr;
  }
  ZeltoVideoDevice* operator->() { return device_.get(); }
  // The window the device advised to the driver.
  HWND Window() const { return window_.load(); }

 private:
  std::atomic<HWND> window_{nullptr};
  std::unique_ptr<ZeltoVideoDevice> device_;
};

// Posts one driver event to the device's window, as the driver would. The
// record must stay alive until the message has been dispatched.
inline BOOL PostDriverEvent(HWND window, const DRIVER_EVENT_RECORD* record, LPARAM argument = 0) {
  static const UINT message = RegisterWindowMessageW(DRIVER_EVENT_MESSAGE_NAME);
  return PostMessageW(window, message, reinterpret_cast<WPARAM>(record), argument);
}

}  // namespace bench
