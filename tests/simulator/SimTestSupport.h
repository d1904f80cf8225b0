// Helpers of the simulator tests: a window on a thread of its own that
// records the driver events posted to it, a COM apartment per test, and the
// walk from the enumerator to a bound camcorder. They run unchanged natively
// and, cross-built, under Wine.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "simulator/SimulatedDriver.h"
#include "tests/TestFolder.h"

namespace sim_test {

// Generous real-time limit for anything a test waits for.
constexpr std::chrono::seconds kPatience{20};

using TimeCode = __MIDL___MIDL_itf_plgdefs_0000_0001;

struct SeenEvent {
  bool nullRecord;
  DWORD code;
  LPARAM argument;
};

// A window of the test thread's own that records the driver events posted
// to it. Messages are dispatched while a test reads or waits, so what it
// reads includes everything that has arrived.
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
    window_ = CreateWindowExW(0, L"ZeltoSimulatorTestEvents", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(window_, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~EventWindow() { DestroyWindow(window_); }
  EventWindow(const EventWindow&) = delete;
  EventWindow& operator=(const EventWindow&) = delete;

  HWND Handle() const { return window_; }
  // Queues a marker behind whatever has been posted to the window so far;
  // it shows in Events() with the code kMarker.
  static constexpr DWORD kMarker = 0xFFFFFFFF;
  bool Mark() const { return PostMessageW(window_, WM_APP, 0, 0) != FALSE; }
  const std::vector<SeenEvent>& Events() {
    Pump();
    return events_;
  }
  std::size_t Count() { return Events().size(); }
  std::vector<DWORD> Codes() {
    std::vector<DWORD> codes;
    for (const SeenEvent& e : Events()) codes.push_back(e.code);
    return codes;
  }
  // The arguments of one code's events, in order.
  std::vector<LPARAM> Arguments(DWORD code) {
    std::vector<LPARAM> arguments;
    for (const SeenEvent& e : Events())
      if (!e.nullRecord && e.code == code) arguments.push_back(e.argument);
    return arguments;
  }
  // Waits until `count` events with this code have arrived.
  bool WaitForCount(DWORD code, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
      if (Arguments(code).size() >= count) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
    }
  }
  // Waits for an event with this code and argument after the first `from` events.
  bool WaitFor(DWORD code, LPARAM argument, std::size_t from = 0) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
      for (std::size_t i = from; i < Events().size(); ++i)
        if (!events_[i].nullRecord && events_[i].code == code && events_[i].argument == argument) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
    }
  }

 private:
  static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<EventWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message == WM_APP) {
      self->events_.push_back(SeenEvent{false, kMarker, 0});
      return 0;
    }
    if (!self || message != self->message_) return DefWindowProcW(window, message, wParam, lParam);
    const auto* record = reinterpret_cast<const DRIVER_EVENT_RECORD*>(wParam);
    self->events_.push_back(SeenEvent{record == nullptr, record ? record->code : 0, lParam});
    return 0;
  }

  HWND window_ = nullptr;
  UINT message_ = 0;
  std::vector<SeenEvent> events_;
};

// A folder of the test's own, named after the prefix and the test, made
// empty before it runs and removed after.
class FolderTest : public ::testing::Test {
 protected:
  explicit FolderTest(const std::string& prefix)
      : folder(zelto::testing::TestFolder(prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name())) {}
  void SetUp() override {
    zelto::testing::RemoveFolder(folder);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    std::error_code ignored;
    zelto::platform::RemoveTree(folder, ignored);
  }
  const std::filesystem::path folder;
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
};

// The classes the enumerator lists for both stream types (empty on failure).
inline std::vector<CLSID> DriverClasses() {
  Ref<IDriverClassEnumerator> enumerator;
  const GUID types[] = {STREAMTYPE_VIDEOSYSTEM0, STREAMTYPE_VIDEOSYSTEM1};
  DRIVER_CLASS_LIST list{};
  if (FAILED(CoCreateInstance(CLSID_DriverClassEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IDriverClassEnumerator, enumerator.OutVoid())) ||
      FAILED(enumerator->GetDriverClasses(2, types, &list)))
    return {};
  std::vector<CLSID> classes(list.classes, list.classes + list.count);
  CoTaskMemFree(list.classes);
  return classes;
}

inline HRESULT EnumUnitsOf(REFCLSID clsid, IEnumUnits** units) {
  *units = nullptr;
  Ref<IUnitCollection> collection;
  const HRESULT hr =
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnitCollection, collection.OutVoid());
  return FAILED(hr) ? hr : collection->EnumUnits(units);
}

// Walks the driver as a client would: every class, every unit of each, and
// returns the model texts seen, in order (a unit whose properties cannot be
// read shows as "?" and ends its class).
inline std::vector<std::wstring> ListUnits() {
  std::vector<std::wstring> seen;
  for (const CLSID& clsid : DriverClasses()) {
    Ref<IEnumUnits> units;
    if (FAILED(EnumUnitsOf(clsid, units.Out()))) continue;
    for (;;) {
      Ref<IUnitMoniker> unit;
      Ref<IUnitProperties> properties;
      const WCHAR* text = nullptr;
      if (units->Next(1, unit.Out(), nullptr) != S_OK) break;
      if (FAILED(unit->QueryInterface(IID_IUnitProperties, properties.OutVoid())) ||
          FAILED(properties->GetStringProperty(L"UnitModelText", &text))) {
        seen.push_back(L"?");
        break;
      }
      seen.push_back(text);
    }
  }
  return seen;
}

// Binds the first unit of a class (by default the first listed) to its smart control.
inline HRESULT BindFirstUnit(ISmartControl** control, const CLSID* clsid = nullptr) {
  *control = nullptr;
  const std::vector<CLSID> classes = clsid ? std::vector<CLSID>{*clsid} : DriverClasses();
  if (classes.empty()) return E_FAIL;
  Ref<IEnumUnits> units;
  Ref<IUnitMoniker> unit;
  HRESULT hr = EnumUnitsOf(classes[0], units.Out());
  if (SUCCEEDED(hr) && (hr = units->Next(1, unit.Out(), nullptr)) == S_OK)
    hr = unit->BindToObject(nullptr, nullptr, IID_ISmartControl, reinterpret_cast<void**>(control));
  return hr == S_FALSE ? E_FAIL : hr;
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

inline zelto::sim::DriverConfig QuickConfig() {
  zelto::sim::DriverConfig config;
  config.camcorder.cassette = QuickTape();
  auto& t = config.camcorder.timing;
  t.loadMs = t.ejectMs = 100;
  t.seekSettleMs = t.modeSwitchMs = 50;
  return config;
}

}  // namespace sim_test
