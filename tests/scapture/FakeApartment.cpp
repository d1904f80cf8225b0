#include "tests/scapture/FakeApartment.h"

namespace scaptest {

namespace {

constexpr const wchar_t* kClassName = L"ZeltoTestFakeApartment";
constexpr UINT kCallMessage = WM_APP + 0x31;

// Every method goes to the owner; AddRef and Release are counted when they
// come from another thread, and the last Release goes to the owner too.
template <typename I>
class Proxy : public I {
public:
  Proxy(FakeApartment& apartment, I* target, DWORD bound) : apartment(apartment), target(target), bound(bound) {
    ++apartment.proxiesMade;
    ++apartment.liveProxies;
  }
  virtual ~Proxy() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (apartment.WrongThread(bound)) return RPC_E_WRONG_THREAD;
    IUnknown* object = nullptr;
    const HRESULT hr = apartment.Call([&] { return target->QueryInterface(iid, reinterpret_cast<void**>(&object)); });
    if (FAILED(hr) || !object) return FAILED(hr) ? hr : E_NOINTERFACE;
    return apartment.Wrap(iid, object, bound, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    apartment.WrongThread(bound);
    return static_cast<ULONG>(++refs);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    apartment.WrongThread(bound);
    const long left = --refs;
    if (left == 0) {
      apartment.Call([&] {
        target->Release();
        return S_OK;
      });
      --apartment.liveProxies;
      delete this;
    }
    return static_cast<ULONG>(left);
  }

protected:
  template <typename Body>
  HRESULT forward(Body&& body) {
    if (apartment.WrongThread(bound)) return RPC_E_WRONG_THREAD;
    return apartment.Call([&] { return body(*target); });
  }

private:
  FakeApartment& apartment;
  I* target;
  DWORD bound;
  std::atomic<long> refs{1};
};

class UnknownProxy final : public Proxy<IUnknown> {
  using Proxy::Proxy;
};

class SmartControlProxy final : public Proxy<ISmartControl> {
public:
  using Proxy::Proxy;
  HRESULT STDMETHODCALLTYPE AdviseWindow(HWND window, DWORD* cookie) override {
    return forward([&](ISmartControl& t) { return t.AdviseWindow(window, cookie); });
  }
  HRESULT STDMETHODCALLTYPE UnadviseWindow(DWORD cookie) override {
    return forward([&](ISmartControl& t) { return t.UnadviseWindow(cookie); });
  }
};

class DeckControlProxy final : public Proxy<IDeckControl> {
public:
  using Proxy::Proxy;
  HRESULT STDMETHODCALLTYPE SendCommand(DWORD command) override {
    return forward([&](IDeckControl& t) { return t.SendCommand(command); });
  }
  HRESULT STDMETHODCALLTYPE GetStatus(DWORD kind, DWORD* value) override {
    return forward([&](IDeckControl& t) { return t.GetStatus(kind, value); });
  }
  HRESULT STDMETHODCALLTYPE GetTimeCode(__MIDL___MIDL_itf_plgdefs_0000_0001* record) override {
    return forward([&](IDeckControl& t) { return t.GetTimeCode(record); });
  }
  HRESULT STDMETHODCALLTYPE SetRecordMode(BOOL record) override {
    return forward([&](IDeckControl& t) { return t.SetRecordMode(record); });
  }
};

class StreamReceiveProxy final : public Proxy<IStreamReceive> {
public:
  using Proxy::Proxy;
  using R = IStreamReceive;
  HRESULT STDMETHODCALLTYPE Stop() override { return forward([](R& t) { return t.Stop(); }); }
  HRESULT STDMETHODCALLTYPE SetFolder(const WCHAR* path) override {
    return forward([&](R& t) { return t.SetFolder(path); });
  }
  HRESULT STDMETHODCALLTYPE SetFileName(const WCHAR* pattern, DWORD kind) override {
    return forward([&](R& t) { return t.SetFileName(pattern, kind); });
  }
  HRESULT STDMETHODCALLTYPE SetOptions(DWORD flags) override {
    return forward([&](R& t) { return t.SetOptions(flags); });
  }
  HRESULT STDMETHODCALLTYPE SetStreamTypes(const GUID_LIST* types) override {
    return forward([&](R& t) { return t.SetStreamTypes(types); });
  }
  HRESULT STDMETHODCALLTYPE StartDirect() override { return forward([](R& t) { return t.StartDirect(); }); }
  HRESULT STDMETHODCALLTYPE Abort() override { return forward([](R& t) { return t.Abort(); }); }
  HRESULT STDMETHODCALLTYPE Reserved10() override { return forward([](R& t) { return t.Reserved10(); }); }
  HRESULT STDMETHODCALLTYPE SetMaxFileSize(ULONGLONG bytes) override {
    return forward([&](R& t) { return t.SetMaxFileSize(bytes); });
  }
  HRESULT STDMETHODCALLTYPE Reserved12() override { return forward([](R& t) { return t.Reserved12(); }); }
  HRESULT STDMETHODCALLTYPE ClearBatch() override { return forward([](R& t) { return t.ClearBatch(); }); }
  HRESULT STDMETHODCALLTYPE AddBatchItem(DWORD inPoint, DWORD reserved, const WCHAR* pattern, DWORD kind) override {
    return forward([&](R& t) { return t.AddBatchItem(inPoint, reserved, pattern, kind); });
  }
  HRESULT STDMETHODCALLTYPE StartBatch() override { return forward([](R& t) { return t.StartBatch(); }); }
  HRESULT STDMETHODCALLTYPE StopBatch() override { return forward([](R& t) { return t.StopBatch(); }); }
};

bool Same(REFIID a, REFIID b) { return IsEqualGUID(a, b) != 0; }

}  // namespace

struct FakeApartment::Task {
  enum State { waiting, running, done, givenUp };
  std::function<HRESULT()> body;
  std::mutex lock;
  std::condition_variable changed;
  State state = waiting;
  HRESULT result = E_FAIL;

  // On the owner's thread, from its queue.
  void Run() {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (state != waiting) return;
      state = running;
    }
    const HRESULT answer = body();
    std::lock_guard<std::mutex> guard(lock);
    result = answer;
    state = done;
    changed.notify_all();
  }
};

FakeApartment::FakeApartment(std::chrono::milliseconds callLimit) : owner(GetCurrentThreadId()), limit(callLimit) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &FakeApartment::procedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);
  window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// Calls still queued were given up by their callers or are dropped now.
FakeApartment::~FakeApartment() {
  MSG message;
  while (PeekMessageW(&message, window, kCallMessage, kCallMessage, PM_REMOVE))
    delete reinterpret_cast<std::shared_ptr<Task>*>(message.lParam);
  DestroyWindow(window);
  UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
}

LRESULT CALLBACK FakeApartment::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kCallMessage) return DefWindowProcW(window, message, wParam, lParam);
  std::unique_ptr<std::shared_ptr<Task>> task(reinterpret_cast<std::shared_ptr<Task>*>(lParam));
  (*task)->Run();
  return 0;
}

HRESULT FakeApartment::Call(const std::function<HRESULT()>& body) {
  if (OnOwnerThread()) return body();
  auto task = std::make_shared<Task>();
  task->body = body;
  auto* posted = new std::shared_ptr<Task>(task);
  if (!window || !PostMessageW(window, kCallMessage, 0, reinterpret_cast<LPARAM>(posted))) {
    delete posted;
    ++unservedCalls;
    return E_FAIL;
  }
  std::unique_lock<std::mutex> guard(task->lock);
  if (!task->changed.wait_for(guard, limit, [&] { return task->state == Task::done; }) &&
      task->state == Task::waiting) {
    task->state = Task::givenUp;
    ++unservedCalls;
    return E_FAIL;
  }
  task->changed.wait(guard, [&] { return task->state == Task::done; });
  return task->result;
}

HRESULT FakeApartment::HandOutProxy(REFIID iid, IUnknown* object, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (refuseUnmarshal.load()) return E_NOINTERFACE;
  object->AddRef();
  return Wrap(iid, object, GetCurrentThreadId(), out);
}

HRESULT FakeApartment::Wrap(REFIID iid, IUnknown* object, DWORD thread, void** out) {
  if (Same(iid, IID_ISmartControl))
    *out = static_cast<ISmartControl*>(new SmartControlProxy(*this, static_cast<ISmartControl*>(object), thread));
  else if (Same(iid, IID_IDeckControl))
    *out = static_cast<IDeckControl*>(new DeckControlProxy(*this, static_cast<IDeckControl*>(object), thread));
  else if (Same(iid, IID_IStreamReceive))
    *out = static_cast<IStreamReceive*>(new StreamReceiveProxy(*this, static_cast<IStreamReceive*>(object), thread));
  else
    *out = static_cast<IUnknown*>(new UnknownProxy(*this, object, thread));
  return S_OK;
}

bool PumpUntil(const std::function<bool()>& done, HANDLE wake) {
  const auto deadline = std::chrono::steady_clock::now() + devtest::kLongWait;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    MsgWaitForMultipleObjects(wake ? 1 : 0, wake ? &wake : nullptr, FALSE, 50, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return true;
}

}  // namespace scaptest
