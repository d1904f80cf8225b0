// Apartments and in-process class registration.
//
// What a registration can see follows COM as observed under Wine: a class
// registered from a single-threaded apartment is found only on that thread; a
// class registered from the multi-threaded apartment is found from every MTA
// thread and from threads that never initialised COM while the MTA exists, but
// not from single-threaded apartments. Leaving an apartment revokes what it
// registered.
#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

#include "platform/posix/ComInternal.h"
#include "platform/posix/com_api.h"

namespace {

struct Registration {
  DWORD cookie;
  CLSID clsid;
  IUnknown* object;
  DWORD context;
  std::uint64_t apartment;
};

struct Registry {
  std::mutex lock;
  std::uint64_t lastApartment = 0;
  std::uint64_t mta = 0;           // 0 while no thread is in the MTA
  unsigned mtaThreads = 0;
  DWORD lastCookie = 0;
  std::vector<Registration> classes;
};

// Never destroyed: threads may still leave their apartments while the process
// exits.
Registry& registry() {
  static Registry* instance = new Registry;
  return *instance;
}

void releaseAll(const std::vector<IUnknown*>& objects) {
  for (IUnknown* object : objects) object->Release();
}

// Removes the registrations of an apartment that ends; the caller releases
// them once the lock is dropped, since Release may call back into COM.
void takeApartmentClasses(Registry& r, std::uint64_t apartment, std::vector<IUnknown*>& out) {
  for (auto it = r.classes.begin(); it != r.classes.end();) {
    if (it->apartment == apartment) {
      out.push_back(it->object);
      it = r.classes.erase(it);
    } else {
      ++it;
    }
  }
}

struct ThreadApartment {
  unsigned initCount = 0;
  bool multiThreaded = false;
  std::uint64_t ownApartment = 0;  // the single-threaded apartment, when in one

  // Leaves the apartment entirely: the balancing CoUninitialize, or a thread
  // that ends without balancing its calls.
  void leave() {
    std::vector<IUnknown*> released;
    {
      Registry& r = registry();
      std::lock_guard guard(r.lock);
      if (multiThreaded) {
        if (--r.mtaThreads == 0) {
          takeApartmentClasses(r, r.mta, released);
          r.mta = 0;
        }
      } else {
        takeApartmentClasses(r, ownApartment, released);
      }
    }
    initCount = 0;
    ownApartment = 0;
    releaseAll(released);
  }

  ~ThreadApartment() {
    if (initCount > 0) leave();
  }
};

thread_local ThreadApartment currentThread;

std::uint64_t apartmentLocked(Registry& r) {
  const ThreadApartment& t = currentThread;
  if (t.initCount > 0) return t.multiThreaded ? r.mta : t.ownApartment;
  return r.mta;  // the implicit MTA, or 0
}

// Finds a class visible from the calling apartment and returns it with a
// reference added.
HRESULT findClass(REFCLSID rclsid, DWORD context, IUnknown** object) {
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  const std::uint64_t apartment = apartmentLocked(r);
  if (apartment == 0) return CO_E_NOTINITIALIZED;
  for (const Registration& reg : r.classes) {
    if (reg.apartment == apartment && (reg.context & context) != 0 &&
        IsEqualGUID(reg.clsid, rclsid)) {
      reg.object->AddRef();
      *object = reg.object;
      return S_OK;
    }
  }
  return REGDB_E_CLASSNOTREG;
}

}  // namespace

namespace zelto::platform::com {

std::uint64_t CurrentApartment() {
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  return apartmentLocked(r);
}

}  // namespace zelto::platform::com

HRESULT STDAPICALLTYPE CoInitialize(LPVOID pvReserved) {
  return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

// pvReserved is ignored, as Wine ignores it.
HRESULT STDAPICALLTYPE CoInitializeEx(LPVOID, DWORD dwCoInit) {
  ThreadApartment& t = currentThread;
  const bool multiThreaded = (dwCoInit & COINIT_APARTMENTTHREADED) == 0;
  if (t.initCount > 0) {
    if (t.multiThreaded != multiThreaded) return RPC_E_CHANGED_MODE;
    ++t.initCount;
    return S_FALSE;
  }
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  if (multiThreaded) {
    if (r.mtaThreads++ == 0) r.mta = ++r.lastApartment;
  } else {
    t.ownApartment = ++r.lastApartment;
  }
  t.multiThreaded = multiThreaded;
  t.initCount = 1;
  return S_OK;
}

// An unbalanced call does nothing, as on Windows.
void STDAPICALLTYPE CoUninitialize() {
  ThreadApartment& t = currentThread;
  if (t.initCount == 0) return;
  if (--t.initCount == 0) t.leave();
}

HRESULT STDAPICALLTYPE CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext,
                                             DWORD flags, LPDWORD lpdwRegister) {
  if (pUnk == nullptr || lpdwRegister == nullptr) return E_INVALIDARG;
  // A multiple-use class object also serves its own process.
  if ((flags & REGCLS_MULTIPLEUSE) != 0) dwClsContext |= CLSCTX_INPROC_SERVER;
  // The registration's reference is taken before the lock and dropped after
  // it when the registration is refused: AddRef and Release are the caller's
  // code, and may call COM.
  pUnk->AddRef();
  HRESULT hr = S_OK;
  bool duplicate = false;
  {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    const std::uint64_t apartment = apartmentLocked(r);
    if (apartment == 0) {
      hr = CO_E_NOTINITIALIZED;
    } else {
      *lpdwRegister = 0;
      for (const Registration& reg : r.classes) {
        if (reg.apartment == apartment && (reg.context & dwClsContext) != 0 &&
            IsEqualGUID(reg.clsid, rclsid)) {
          // Registering a class again in the same apartment: COM (as Wine does
          // it) accepts a multiple-use registration without a second cookie.
          hr = (flags & REGCLS_MULTIPLEUSE) != 0 ? S_OK : CO_E_OBJISREG;
          duplicate = true;
          break;
        }
      }
      if (!duplicate) {
        DWORD cookie = ++r.lastCookie;
        if (cookie == 0) cookie = ++r.lastCookie;  // 0 is never a valid cookie
        try {
          r.classes.push_back(Registration{cookie, rclsid, pUnk, dwClsContext, apartment});
          *lpdwRegister = cookie;
          return S_OK;
        } catch (const std::bad_alloc&) {
          hr = E_OUTOFMEMORY;
        }
      }
    }
  }
  pUnk->Release();
  return hr;
}

// An unknown cookie gives E_INVALIDARG, the result COM gives under Wine.
HRESULT STDAPICALLTYPE CoRevokeClassObject(DWORD dwRegister) {
  IUnknown* released = nullptr;
  {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    const std::uint64_t apartment = apartmentLocked(r);
    if (apartment == 0) return CO_E_NOTINITIALIZED;
    auto it = r.classes.begin();
    while (it != r.classes.end() && it->cookie != dwRegister) ++it;
    if (it == r.classes.end()) return E_INVALIDARG;
    if (it->apartment != apartment) return RPC_E_WRONG_THREAD;
    released = it->object;
    r.classes.erase(it);
  }
  released->Release();
  return S_OK;
}

HRESULT STDAPICALLTYPE CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO*,
                                        REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  IUnknown* object = nullptr;
  HRESULT hr = findClass(rclsid, dwClsContext, &object);
  if (FAILED(hr)) return hr;
  hr = object->QueryInterface(riid, ppv);
  object->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

HRESULT STDAPICALLTYPE CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                        REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  // The factory decides about aggregation; it refuses with CLASS_E_NOAGGREGATION.
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}
