#include "simulator/Apartment.h"

#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/ThreadGuard.h"
#include "zelto/bridge/DriverInterfaces.h"

namespace zelto::sim {

namespace {

constexpr const wchar_t* kClassName = L"ZeltoSimulatorApartment";
constexpr UINT kCallMessage = WM_APP + 0x31;

ApartmentCounters& totals() {
  static ApartmentCounters* instance = new ApartmentCounters;  // outlives every thread
  return *instance;
}

void count(std::atomic<int> ApartmentCounters::*counter, ApartmentCounters& own, int by = 1) {
  (own.*counter) += by;
  (totals().*counter) += by;
}

bool Same(REFIID a, REFIID b) { return IsEqualGUID(a, b) != 0; }

// Every method goes to the owner. QueryInterface for the proxy's own
// interface or IUnknown is answered by the proxy, as COM's proxy manager
// does; any other is asked of the object and wrapped for the same thread.
template <typename I>
class Proxy : public I {
 public:
  Proxy(std::shared_ptr<Apartment> apartment, const IID& iid, I* target, DWORD bound)
      : apartment(std::move(apartment)), iid(iid), target(target), bound(bound) {
    count(&ApartmentCounters::proxiesMade, this->apartment->counters);
    count(&ApartmentCounters::liveProxies, this->apartment->counters);
  }
  virtual ~Proxy() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID wanted, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    bindToCaller();
    const DWORD thread = bound.load();
    if (thread != 0 && apartment->WrongThread(thread)) return RPC_E_WRONG_THREAD;
    if (Same(wanted, IID_IUnknown) || Same(wanted, iid)) {
      AddRef();
      *out = static_cast<I*>(this);
      return S_OK;
    }
    IUnknown* object = nullptr;
    const HRESULT hr =
        apartment->Call([&] { return target->QueryInterface(wanted, reinterpret_cast<void**>(&object)); });
    if (FAILED(hr) || !object) return FAILED(hr) ? hr : E_NOINTERFACE;
    return apartment->Wrap(wanted, object, thread, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    if (const DWORD thread = bound.load()) apartment->WrongThread(thread);
    return static_cast<ULONG>(++refs);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    if (const DWORD thread = bound.load()) apartment->WrongThread(thread);
    const long left = --refs;
    if (left == 0) {
      apartment->ReleaseOnOwner(target);
      count(&ApartmentCounters::liveProxies, apartment->counters, -1);
      delete this;
    }
    return static_cast<ULONG>(left);
  }

 protected:
  template <typename Body>
  HRESULT forward(Body&& body) {
    bindToCaller();
    const DWORD thread = bound.load();
    if (thread != 0 && apartment->WrongThread(thread)) return RPC_E_WRONG_THREAD;
    return apartment->Call([&] { return body(*target); });
  }

 private:
  // A marshalled proxy belongs to the thread that unmarshals it, the first
  // other than the owner to use it (the marshaller's own use of it is on the
  // owner's thread).
  void bindToCaller() {
    if (bound.load() != 0 || apartment->OnOwnerThread()) return;
    DWORD none = 0;
    bound.compare_exchange_strong(none, GetCurrentThreadId());
  }

  std::shared_ptr<Apartment> apartment;
  IID iid;
  I* target;
  std::atomic<DWORD> bound;
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

template <typename P, typename I>
I* make(std::shared_ptr<Apartment> apartment, REFIID iid, IUnknown* object, DWORD thread) {
  return new (std::nothrow) P(std::move(apartment), iid, static_cast<I*>(object), thread);
}

bool proxied(REFIID iid) {
  return Same(iid, IID_IUnknown) || Same(iid, IID_ISmartControl) || Same(iid, IID_IDeckControl) ||
         Same(iid, IID_IStreamReceive);
}

// IMarshal for an object of an apartment: the free-threaded marshaller does
// the writing, of a proxy in the object's place.
class ApartmentMarshaler final : public IMarshal {
 public:
  ApartmentMarshaler(IUnknown* outer, std::shared_ptr<Apartment> apartment, IMarshal* freeThreaded)
      : inner_(this), outer_(outer), apartment_(std::move(apartment)), freeThreaded_(freeThreaded) {}
  ~ApartmentMarshaler() { freeThreaded_->Release(); }

  IUnknown* Inner() { return &inner_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return outer_->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

  HRESULT STDMETHODCALLTYPE GetUnmarshalClass(REFIID riid, void* pv, DWORD context, void* contextData, DWORD flags,
                                              CLSID* clsid) override {
    return freeThreaded_->GetUnmarshalClass(riid, pv, context, contextData, flags, clsid);
  }
  HRESULT STDMETHODCALLTYPE GetMarshalSizeMax(REFIID riid, void* pv, DWORD context, void* contextData, DWORD flags,
                                              DWORD* size) override {
    return freeThreaded_->GetMarshalSizeMax(riid, pv, context, contextData, flags, size);
  }
  HRESULT STDMETHODCALLTYPE MarshalInterface(IStream* stream, REFIID riid, void* pv, DWORD context, void* contextData,
                                             DWORD flags) override {
    if (stream == nullptr || pv == nullptr) return E_INVALIDARG;
    // Only the owner holds the object itself; any other thread has a proxy.
    if (!apartment_->OnOwnerThread()) return RPC_E_WRONG_THREAD;
    if (!proxied(riid)) return E_NOINTERFACE;
    IUnknown* object = nullptr;
    HRESULT hr = static_cast<IUnknown*>(pv)->QueryInterface(riid, reinterpret_cast<void**>(&object));
    if (FAILED(hr) || !object) return FAILED(hr) ? hr : E_NOINTERFACE;
    void* proxy = nullptr;
    hr = apartment_->Wrap(riid, object, 0, &proxy);
    if (FAILED(hr)) return hr;
    // The marshaller takes a reference of its own to what it writes.
    hr = freeThreaded_->MarshalInterface(stream, riid, proxy, context, contextData, flags);
    static_cast<IUnknown*>(proxy)->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE UnmarshalInterface(IStream* stream, REFIID riid, void** ppv) override {
    return freeThreaded_->UnmarshalInterface(stream, riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE ReleaseMarshalData(IStream* stream) override {
    return freeThreaded_->ReleaseMarshalData(stream);
  }
  HRESULT STDMETHODCALLTYPE DisconnectObject(DWORD reserved) override {
    return freeThreaded_->DisconnectObject(reserved);
  }

 private:
  struct InnerUnknown final : IUnknown {
    explicit InnerUnknown(ApartmentMarshaler* owner) : owner(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      if (ppv == nullptr) return E_POINTER;
      if (Same(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
      } else if (Same(riid, IID_IMarshal)) {
        *ppv = static_cast<IMarshal*>(owner);
      } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
      }
      static_cast<IUnknown*>(*ppv)->AddRef();
      return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++owner->refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
      const ULONG left = --owner->refs_;
      if (left == 0) delete owner;
      return left;
    }
    ApartmentMarshaler* owner;
  };

  InnerUnknown inner_;
  IUnknown* outer_;
  std::shared_ptr<Apartment> apartment_;
  IMarshal* freeThreaded_;
  std::atomic<ULONG> refs_{1};
};

}  // namespace

struct Apartment::Task {
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
    // A call that throws answers as COM answers for a server that faults.
    HRESULT answer = RPC_E_SERVERFAULT;
    zelto::platform::GuardThread("apartment", [&] { answer = body(); });
    finish(answer);
  }
  void finish(HRESULT answer) {
    std::lock_guard<std::mutex> guard(lock);
    result = answer;
    state = done;
    changed.notify_all();
  }
};

Apartment::Apartment(std::chrono::milliseconds callLimit) : owner_(GetCurrentThreadId()), limit_(callLimit) {
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Apartment::procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    return RegisterClassExW(&windowClass) != 0;
  }();
  (void)registered;
  // A message-only window: the queue is all it is for.
  window_.store(CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                                nullptr));
}

Apartment::~Apartment() = default;

std::shared_ptr<Apartment> Apartment::Make(std::chrono::milliseconds callLimit) {
  return std::shared_ptr<Apartment>(new Apartment(callLimit));
}

std::shared_ptr<Apartment> Apartment::OfThisThread() {
  // Made in the holder's initialiser, so that the thread's message queue
  // (made on the way) outlives the holder, whose end closes the apartment.
  struct Holder {
    std::shared_ptr<Apartment> apartment;
    ~Holder() { apartment->Close(); }
  };
  thread_local Holder holder{Make()};
  return holder.apartment;
}

const ApartmentCounters& Apartment::Totals() { return totals(); }

void Apartment::Close() {
  const HWND window = window_.exchange(nullptr);
  if (!window) return;
  MSG message;
  while (PeekMessageW(&message, window, kCallMessage, kCallMessage, PM_REMOVE)) {
    std::unique_ptr<std::shared_ptr<Task>> task(reinterpret_cast<std::shared_ptr<Task>*>(message.lParam));
    (*task)->finish(RPC_E_DISCONNECTED);
  }
  DestroyWindow(window);
}

LRESULT CALLBACK Apartment::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kCallMessage) return DefWindowProcW(window, message, wParam, lParam);
  std::unique_ptr<std::shared_ptr<Task>> task(reinterpret_cast<std::shared_ptr<Task>*>(lParam));
  (*task)->Run();
  return 0;
}

HRESULT Apartment::Call(const std::function<HRESULT()>& body) {
  if (OnOwnerThread()) return window_.load() ? body() : RPC_E_DISCONNECTED;
  auto task = std::make_shared<Task>();
  task->body = body;
  auto* posted = new std::shared_ptr<Task>(task);
  const HWND window = window_.load();
  if (!window || !PostMessageW(window, kCallMessage, 0, reinterpret_cast<LPARAM>(posted))) {
    delete posted;
    return RPC_E_DISCONNECTED;
  }
  std::unique_lock<std::mutex> guard(task->lock);
  if (!task->changed.wait_for(guard, limit_, [&] { return task->state == Task::done; }) &&
      task->state == Task::waiting) {
    task->state = Task::givenUp;
    count(&ApartmentCounters::unservedCalls, counters);
    return RPC_E_SERVERCALL_RETRYLATER;
  }
  task->changed.wait(guard, [&] { return task->state == Task::done; });
  return task->result;
}

void Apartment::ReleaseOnOwner(IUnknown* object) {
  // Where the owner is gone there is no one else to let the object go.
  if (Call([object] {
        object->Release();
        return S_OK;
      }) == RPC_E_DISCONNECTED)
    object->Release();
}

bool Apartment::WrongThread(DWORD bound) {
  if (GetCurrentThreadId() == bound) return false;
  count(&ApartmentCounters::wrongThreadCalls, counters);
  return true;
}

HRESULT Apartment::Wrap(REFIID iid, IUnknown* object, DWORD thread, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  void* made = nullptr;
  auto self = shared_from_this();
  if (Same(iid, IID_ISmartControl))
    made = make<SmartControlProxy, ISmartControl>(self, iid, object, thread);
  else if (Same(iid, IID_IDeckControl))
    made = make<DeckControlProxy, IDeckControl>(self, iid, object, thread);
  else if (Same(iid, IID_IStreamReceive))
    made = make<StreamReceiveProxy, IStreamReceive>(self, iid, object, thread);
  else if (Same(iid, IID_IUnknown))
    made = make<UnknownProxy, IUnknown>(self, iid, object, thread);
  *out = made;
  if (made) return S_OK;
  // No proxy: the object's reference goes back where it came from.
  ReleaseOnOwner(object);
  return proxied(iid) ? E_OUTOFMEMORY : E_NOINTERFACE;
}

IUnknown* NewApartmentMarshaler(IUnknown* outer, std::shared_ptr<Apartment> apartment) {
  IUnknown* freeThreaded = nullptr;
  if (FAILED(CoCreateFreeThreadedMarshaler(nullptr, &freeThreaded)) || !freeThreaded) return nullptr;
  IMarshal* marshal = nullptr;
  const HRESULT hr = freeThreaded->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal));
  freeThreaded->Release();
  if (FAILED(hr) || !marshal) return nullptr;
  auto* marshaler = new (std::nothrow) ApartmentMarshaler(outer, std::move(apartment), marshal);
  if (!marshaler) {
    marshal->Release();
    return nullptr;
  }
  return marshaler->Inner();
}

}  // namespace zelto::sim
