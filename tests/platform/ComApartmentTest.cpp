// Apartments and class registration, checked against what COM does under Wine.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/platform/ComTestObjects.h"

using namespace comtest;

namespace {

HRESULT CreateAndRelease() {
  ITestValue* value = nullptr;
  const HRESULT hr = CoCreateInstance(CLSID_TestValue, nullptr, CLSCTX_INPROC_SERVER, IID_ITestValue,
                                      reinterpret_cast<void**>(&value));
  if (SUCCEEDED(hr)) {
    int v = 0;
    EXPECT_EQ(value->GetValue(&v), S_OK);
    EXPECT_EQ(v, 7);
    value->Release();
  } else {
    EXPECT_EQ(value, nullptr);
  }
  return hr;
}

HRESULT Register(IUnknown* factory, DWORD* cookie, DWORD context = CLSCTX_INPROC_SERVER) {
  return CoRegisterClassObject(CLSID_TestValue, factory, context, REGCLS_MULTIPLEUSE, cookie);
}

DWORD Register(IUnknown* factory) {
  DWORD cookie = 0;
  EXPECT_EQ(Register(factory, &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  return cookie;
}

}  // namespace

TEST(ComApartment, InitialisationIsCountedPerThreadAndKeepsItsMode) {
  OnFreshThread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    // A refused mode change is not counted: two calls balance the two above.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
    CoUninitialize();
    EXPECT_EQ(CreateAndRelease(), REGDB_E_CLASSNOTREG);  // still inside
    CoUninitialize();
    EXPECT_EQ(CreateAndRelease(), CO_E_NOTINITIALIZED);
    TestFactory factory;
    DWORD cookie = 99;
    EXPECT_EQ(Register(&factory, &cookie), CO_E_NOTINITIALIZED);
    EXPECT_EQ(cookie, 99u);
    EXPECT_EQ(CoRevokeClassObject(1), CO_E_NOTINITIALIZED);
    EXPECT_EQ(factory.Refs(), 1);
    CoUninitialize();  // unbalanced: harmless
    EXPECT_EQ(CoInitialize(nullptr), S_OK);  // a new apartment, any mode
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
  });
}

// Observed under Wine: a class registered from the MTA serves every thread of
// the MTA, including threads that never initialised COM while the MTA exists,
// but not single-threaded apartments; only the MTA may revoke it.
TEST(ComApartment, ClassRegisteredInMtaServesTheMtaOnly) {
  TestFactory factory;
  DWORD cookie = 0;
  {
    ApartmentThread owner(COINIT_MULTITHREADED);
    owner.Run([&] { cookie = Register(&factory); });
    EXPECT_EQ(factory.Refs(), 2);
    ApartmentThread otherMta(COINIT_MULTITHREADED);
    otherMta.Run([&] {
      EXPECT_EQ(CreateAndRelease(), S_OK);
      IUnknown* found = nullptr;
      EXPECT_EQ(CoGetClassObject(CLSID_TestValue, CLSCTX_INPROC_SERVER, nullptr, IID_IUnknown,
                                 reinterpret_cast<void**>(&found)),
                S_OK);
      EXPECT_EQ(found, static_cast<IUnknown*>(&factory));
      if (found) found->Release();
    });
    OnFreshThread([] { EXPECT_EQ(CreateAndRelease(), S_OK); });
    ApartmentThread sta(COINIT_APARTMENTTHREADED);
    sta.Run([&] {
      EXPECT_EQ(CreateAndRelease(), REGDB_E_CLASSNOTREG);
      EXPECT_EQ(CoRevokeClassObject(cookie), RPC_E_WRONG_THREAD);
    });
    otherMta.Run([&] { EXPECT_EQ(CoRevokeClassObject(cookie), S_OK); });
    EXPECT_EQ(factory.Refs(), 1);
    owner.Run([&] { EXPECT_EQ(CreateAndRelease(), REGDB_E_CLASSNOTREG); });
  }
  // With the MTA gone, a thread outside any apartment is refused again.
  OnFreshThread([] { EXPECT_EQ(CreateAndRelease(), CO_E_NOTINITIALIZED); });
  EXPECT_EQ(liveObjects, 0);
}

TEST(ComApartment, ClassRegisteredInStaServesThatThreadUntilItLeaves) {
  TestFactory factory;
  ApartmentThread owner(COINIT_APARTMENTTHREADED);
  DWORD cookie = 0;
  owner.Run([&] {
    cookie = Register(&factory);
    EXPECT_EQ(CreateAndRelease(), S_OK);
  });
  for (DWORD mode : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED}) {
    ApartmentThread other(mode);
    other.Run([&] {
      EXPECT_EQ(CreateAndRelease(), REGDB_E_CLASSNOTREG);
      EXPECT_EQ(CoRevokeClassObject(cookie), RPC_E_WRONG_THREAD);
    });
  }
  owner.Run([&] {
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(CreateAndRelease(), REGDB_E_CLASSNOTREG);
    // An unknown or spent cookie is refused with E_INVALIDARG under Wine.
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
    EXPECT_EQ(CoRevokeClassObject(0), E_INVALIDARG);
  });
  EXPECT_EQ(factory.Refs(), 1);

  // Leaving the apartment revokes its classes, and so does a thread that ends
  // inside its apartment.
  OnFreshThread([&] {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    Register(&factory);
    CoUninitialize();
    EXPECT_EQ(factory.Refs(), 1);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CreateAndRelease(), REGDB_E_CLASSNOTREG);
    Register(&factory);
  });
  EXPECT_EQ(factory.Refs(), 1);
  EXPECT_EQ(liveObjects, 0);
}

TEST(ComApartment, CreationFailuresReportTheCause) {
  TestFactory factory;
  TestValue notAFactory(false);
  ApartmentThread sta(COINIT_APARTMENTTHREADED);
  sta.Run([&] {
    DWORD cookie = 0;
    EXPECT_EQ(Register(nullptr, &cookie), E_INVALIDARG);
    EXPECT_EQ(Register(&factory, nullptr), E_INVALIDARG);
    // A multiple-use class object also serves the process itself.
    EXPECT_EQ(Register(&factory, &cookie, CLSCTX_LOCAL_SERVER), S_OK);
    EXPECT_EQ(CreateAndRelease(), S_OK);

    void* out = &factory;
    EXPECT_EQ(CoCreateInstance(CLSID_TestValue, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(CoGetClassObject(CLSID_TestValue, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(CoCreateInstance(CLSID_TestValue, &notAFactory, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_TestValue, nullptr, CLSCTX_INPROC_SERVER, IID_IStream, &out), E_NOINTERFACE);
    EXPECT_EQ(CoCreateInstance(IID_ITestValue, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);

    // An object registered without IClassFactory cannot make instances.
    cookie = Register(&notAFactory);
    EXPECT_EQ(CreateAndRelease(), E_NOINTERFACE);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  });
  EXPECT_EQ(factory.Refs(), 1);
  EXPECT_EQ(notAFactory.Refs(), 1);
}

TEST(ComApartment, RegistrationAndCreationRaceSafely) {
  TestFactory factory;
  ApartmentThread owner(COINIT_MULTITHREADED);
  std::atomic<bool> stop{false};
  std::atomic<int> created{0};
  std::vector<std::thread> creators;
  for (int i = 0; i < 3; ++i) {
    creators.emplace_back([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      while (!stop) {
        const HRESULT hr = CreateAndRelease();
        EXPECT_TRUE(hr == S_OK || hr == REGDB_E_CLASSNOTREG) << std::hex << hr;
        if (hr == S_OK) ++created;
      }
      CoUninitialize();
    });
  }
  // Keep going until the creators have hit registered and revoked states.
  for (int round = 0; round < 200 || (created == 0 && round < 100000); ++round) {
    owner.Run([&] { EXPECT_EQ(CoRevokeClassObject(Register(&factory)), S_OK); });
  }
  stop = true;
  for (auto& t : creators) t.join();
  EXPECT_EQ(factory.Refs(), 1);
  EXPECT_EQ(liveObjects, 0);
}
