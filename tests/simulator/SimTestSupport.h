// Helpers of the simulator tests: a window on a thread of its own that
// records the driver events posted to it, a COM apartment per test, and the
// walk from the enumerator to a bound camcorder. They run unchanged natively
// and, cross-built, under Wine.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "simulator/SimulatedDriver.h"

namespace sim_test {

// Generous real-time limit for anything a test waits for.
constexpr std::chrono::seconds kPatience{20};

struct SeenEvent {
  bool nullRecord;
  DWORD code;
  LPARAM argument;
};

class EventWindow {
 public:
  EventWindow() {
    static const ATOM atom = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = &EventWindow::Procedure;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"ZeltoSimulatorTestEvents";
      return RegisterClassExW(&wc);
    }();
    EXPECT_NE(atom, 0);
    message_ = RegisterWindowMessageW(DRIVER_EVENT_MESSAGE_NAME);
    thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &EventWindow::Loop, this, 0, nullptr));
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ready_; });
  }
  ~EventWindow() {
    PostMessageW(window_, WM_APP, 0, 0);  // asks the loop to end
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  EventWindow(const EventWindow&) = delete;
  EventWindow& operator=(const EventWindow&) = delete;

  HWND Handle() const { return window_; }

  std::vector<SeenEvent> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // Codes only, optionally one code's arguments.
  std::vector<DWORD> Codes() const {
    std::vector<DWORD> codes;
    for (const SeenEvent& e : Events()) codes.push_back(e.code);
    return codes;
  }
  std::vector<LPARAM> Arguments(DWORD code) const {
    std::vector<LPARAM> arguments;
    for (const SeenEvent& e : Events())
      if (!e.nullRecord && e.code == code) arguments.push_back(e.argument);
    return arguments;
  }
  bool WaitUntil(const std::function<bool(const std::vector<SeenEvent>&)>& done) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return done(events_); });
  }
  // Waits for an event with this code and argument after the first `from` events.
  bool WaitFor(DWORD code, LPARAM argument, std::size_t from = 0) const {
    return WaitUntil([&](const std::vector<SeenEvent>& events) {
      for (std::size_t i = from; i < events.size(); ++i)
        if (!events[i].nullRecord && events[i].code == code && events[i].argument == argument) return true;
      return false;
    });
  }
  std::size_t Count() const { return Events().size(); }

 private:
  static unsigned WINAPI Loop(void* raw) {
    auto* self = static_cast<EventWindow*>(raw);
    HWND window = CreateWindowExW(0, L"ZeltoSimulatorTestEvents", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    {
      std::lock_guard lock(self->mutex_);
      self->window_ = window;
      self->ready_ = true;
    }
    self->changed_.notify_all();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == WM_APP) break;
      DispatchMessageW(&msg);
    }
    DestroyWindow(window);
    return 0;
  }
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<EventWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message == self->message_) {
      const auto* record = reinterpret_cast<const DRIVER_EVENT_RECORD*>(wParam);
      {
        std::lock_guard lock(self->mutex_);
        self->events_.push_back(SeenEvent{record == nullptr, record ? record->code : 0, lParam});
      }
      self->changed_.notify_all();
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool ready_ = false;
  HWND window_ = nullptr;
  UINT message_ = 0;
  HANDLE thread_ = nullptr;
  std::vector<SeenEvent> events_;
};

// Each test runs in a single-threaded apartment of its own.
class ComTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

template <typename T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Reset(); }
  void Reset() {
    if (p) p->Release();
    p = nullptr;
  }
  T** Out() {
    Reset();
    return &p;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

// Walks the driver as a client would: every class for both stream types,
// every unit of each, and returns the model texts seen, in order (a unit
// whose properties cannot be read shows as "?" and ends its class).
inline std::vector<std::wstring> ListUnits() {
  std::vector<std::wstring> seen;
  Ref<IDriverClassEnumerator> enumerator;
  if (FAILED(CoCreateInstance(CLSID_DriverClassEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IDriverClassEnumerator, enumerator.OutVoid())))
    return seen;
  const GUID types[] = {STREAMTYPE_VIDEOSYSTEM0, STREAMTYPE_VIDEOSYSTEM1};
  DRIVER_CLASS_LIST list{};
  if (FAILED(enumerator->GetDriverClasses(2, types, &list))) return seen;
  for (DWORD i = 0; i < list.count; ++i) {
    Ref<IUnitCollection> collection;
    if (FAILED(CoCreateInstance(list.classes[i], nullptr, CLSCTX_INPROC_SERVER, IID_IUnitCollection,
                                collection.OutVoid())))
      continue;
    Ref<IEnumUnits> units;
    if (FAILED(collection->EnumUnits(units.Out()))) continue;
    for (;;) {
      Ref<IUnitMoniker> unit;
      ULONG fetched = 0;
      if (units->Next(1, unit.Out(), &fetched) != S_OK) break;
      Ref<IUnitProperties> properties;
      const WCHAR* text = nullptr;
      if (FAILED(unit->QueryInterface(IID_IUnitProperties, properties.OutVoid())) ||
          FAILED(properties->GetStringProperty(L"UnitModelText", &text))) {
        seen.push_back(L"?");
        break;
      }
      seen.push_back(text);
    }
  }
  CoTaskMemFree(list.classes);
  return seen;
}

// Binds the first unit of the first class to its smart control.
inline HRESULT BindFirstUnit(ISmartControl** control) {
  *control = nullptr;
  Ref<IDriverClassEnumerator> enumerator;
  HRESULT hr = CoCreateInstance(CLSID_DriverClassEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IDriverClassEnumerator, enumerator.OutVoid());
  if (FAILED(hr)) return hr;
  const GUID types[] = {STREAMTYPE_VIDEOSYSTEM0, STREAMTYPE_VIDEOSYSTEM1};
  DRIVER_CLASS_LIST list{};
  hr = enumerator->GetDriverClasses(2, types, &list);
  if (FAILED(hr)) return hr;
  if (list.count == 0) return E_FAIL;
  Ref<IUnitCollection> collection;
  hr = CoCreateInstance(list.classes[0], nullptr, CLSCTX_INPROC_SERVER, IID_IUnitCollection, collection.OutVoid());
  CoTaskMemFree(list.classes);
  if (FAILED(hr)) return hr;
  Ref<IEnumUnits> units;
  if (FAILED(hr = collection->EnumUnits(units.Out()))) return hr;
  Ref<IUnitMoniker> unit;
  if ((hr = units->Next(1, unit.Out(), nullptr)) != S_OK) return FAILED(hr) ? hr : E_FAIL;
  return unit->BindToObject(nullptr, nullptr, IID_ISmartControl, reinterpret_cast<void**>(control));
}

// A small, quick tape for tests that watch the transport in real time:
// scenes at 0.5-1.0 s and 1.5-2.5 s of a 3 s tape, the second one 4:3.
inline zelto::sim::Cassette QuickTape() {
  using namespace zelto::sim;
  Cassette c;
  c.lengthTracks = 3 * kTracksPerSecond;
  Scene a;
  a.startTrack = 150;
  a.endTrack = 300;
  Scene b = a;
  b.startTrack = 450;
  b.endTrack = 750;
  b.startFrame = 25;
  b.wide = false;
  c.scenes = {a, b};
  return c;
}

inline zelto::sim::TransportTiming QuickTiming() {
  zelto::sim::TransportTiming t;
  t.loadMs = 100;
  t.ejectMs = 100;
  t.seekSettleMs = 50;
  t.modeSwitchMs = 50;
  return t;
}

inline zelto::sim::DriverConfig QuickConfig() {
  zelto::sim::DriverConfig config;
  config.camcorder.cassette = QuickTape();
  config.camcorder.timing = QuickTiming();
  return config;
}

}  // namespace sim_test
