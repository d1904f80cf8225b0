// Inter-thread marshalling of objects that aggregate the free-threaded
// marshaller: real COM hands the receiving apartment the same pointer, and so
// do we. Reference counts must balance, and the stream is always released.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "tests/platform/ComTestObjects.h"

using namespace comtest;

namespace {

IStream* Marshal(IUnknown* object, REFIID iid = IID_ITestValue) {
  IStream* stream = nullptr;
  EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(iid, object, &stream), S_OK);
  return stream;
}

// Unmarshals through a stream that carries one extra reference of ours, and
// expects the call to have released the stream's own reference.
HRESULT UnmarshalReleasing(IStream* stream, REFIID iid, void** out) {
  stream->AddRef();
  const HRESULT hr = CoGetInterfaceAndReleaseStream(stream, iid, out);
  EXPECT_EQ(stream->Release(), 0u) << "the stream was not released";
  return hr;
}

IStream* StreamOf(const void* bytes, ULONG size) {
  IStream* stream = nullptr;
  EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  if (size > 0) {
    EXPECT_EQ(stream->Write(bytes, size, nullptr), S_OK);
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), S_OK);
  }
  return stream;
}

}  // namespace

TEST(ComMarshal, WorkerApartmentReceivesTheSameObject) {
  TestValue object(true);
  ApartmentThread host(COINIT_APARTMENTTHREADED);
  IStream* stream = nullptr;
  host.Run([&] { stream = Marshal(&object); });
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(object.Refs(), 2);  // the marshalled form holds one reference

  // The worker enters its own single-threaded apartment, as the capture
  // thread does, and calls through the unmarshalled pointer.
  OnFreshThread([&] {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ITestValue* received = nullptr;
    EXPECT_EQ(UnmarshalReleasing(stream, IID_ITestValue, reinterpret_cast<void**>(&received)), S_OK);
    ASSERT_EQ(received, static_cast<ITestValue*>(&object));
    EXPECT_EQ(object.Refs(), 2);  // the worker's reference replaced the stream's
    int value = 0;
    EXPECT_EQ(received->GetValue(&value), S_OK);
    EXPECT_EQ(value, 42);
    received->Release();
    CoUninitialize();
  });
  EXPECT_EQ(object.Refs(), 1);
}

TEST(ComMarshal, FailedUnmarshalStillReleasesTheStream) {
  TestValue object(true);
  ApartmentThread host(COINIT_APARTMENTTHREADED);
  ApartmentThread worker(COINIT_APARTMENTTHREADED);

  // An interface the object lacks: the marshalled reference is dropped too.
  IStream* stream = nullptr;
  host.Run([&] { stream = Marshal(&object, IID_IUnknown); });
  worker.Run([&] {
    void* out = &object;
    EXPECT_EQ(UnmarshalReleasing(stream, IID_IStream, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    // Streams that carry no marshalled interface, or garbage.
    EXPECT_EQ(UnmarshalReleasing(StreamOf(nullptr, 0), IID_IUnknown, &out), STG_E_READFAULT);
    unsigned char bytes[64];
    std::memset(bytes, 0x5A, sizeof bytes);
    EXPECT_TRUE(FAILED(UnmarshalReleasing(StreamOf(bytes, sizeof bytes), IID_IUnknown, &out)));
  });
  EXPECT_EQ(object.Refs(), 1);

  // A thread outside any apartment cannot unmarshal. COM releases the stream
  // but keeps the marshalled reference (it was never read), so one reference
  // stays with the object for good.
  host.Run([&] { stream = Marshal(&object); });
  OnFreshThread([&] {
    void* out = &object;
    EXPECT_EQ(UnmarshalReleasing(stream, IID_ITestValue, &out), CO_E_NOTINITIALIZED);
    EXPECT_EQ(out, static_cast<void*>(&object));  // untouched
  });
  EXPECT_EQ(object.Refs(), 2);
}

TEST(ComMarshal, BadArgumentsAreRefused) {
  TestValue object(true);
  ApartmentThread sta(COINIT_APARTMENTTHREADED);
  sta.Run([&] {
    IStream* stream = reinterpret_cast<IStream*>(&object);
    EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_ITestValue, nullptr, &stream), E_INVALIDARG);
    EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_ITestValue, &object, nullptr), E_INVALIDARG);
    stream = reinterpret_cast<IStream*>(&object);
    EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IStream, &object, &stream), E_NOINTERFACE);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(object.Refs(), 1);

    void* out = &object;
    EXPECT_EQ(CoGetInterfaceAndReleaseStream(nullptr, IID_IUnknown, &out), E_INVALIDARG);
    EXPECT_EQ(out, static_cast<void*>(&object));  // untouched
  });
}

TEST(ComMarshal, OnlyFreeThreadedObjectsMarshalOutsideAnApartment) {
  TestValue freeThreaded(true), plain(false);
  OnFreshThread([&] {
    IStream* stream = nullptr;
    EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_ITestValue, &plain, &stream), CO_E_NOTINITIALIZED);
    EXPECT_EQ(stream, nullptr);
    stream = Marshal(&freeThreaded);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    IUnknown* out = nullptr;
    EXPECT_EQ(CoGetInterfaceAndReleaseStream(stream, IID_IUnknown, reinterpret_cast<void**>(&out)), S_OK);
    EXPECT_EQ(out, static_cast<IUnknown*>(&freeThreaded));
    if (out != nullptr) out->Release();
    CoUninitialize();
  });
  EXPECT_EQ(freeThreaded.Refs(), 1);
  EXPECT_EQ(plain.Refs(), 1);
}

TEST(ComMarshal, FreeThreadedMarshalerDelegatesToItsOuterObject) {
  TestValue outer(false);
  IUnknown* inner = nullptr;
  ASSERT_EQ(CoCreateFreeThreadedMarshaler(&outer, &inner), S_OK);
  EXPECT_EQ(outer.Refs(), 1);  // creation does not hold the outer object

  IMarshal* marshal = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
  EXPECT_EQ(outer.Refs(), 2);  // IMarshal's references are the outer object's
  IUnknown* identity = nullptr;
  ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
  identity->Release();

  CLSID unmarshaler{};
  EXPECT_EQ(marshal->GetUnmarshalClass(IID_IUnknown, &outer, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL, &unmarshaler),
            S_OK);
  wchar_t text[39] = {};
  StringFromGUID2(unmarshaler, text, 39);
  EXPECT_STREQ(text, L"{0000033A-0000-0000-C000-000000000046}");
  marshal->Release();
  EXPECT_EQ(outer.Refs(), 1);
  EXPECT_EQ(inner->Release(), 0u);
}

TEST(ComMarshal, ConcurrentHandOversBalance) {
  TestValue object(true);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      ASSERT_EQ(CoInitialize(nullptr), S_OK);
      for (int i = 0; i < 200; ++i) {
        IStream* stream = Marshal(&object);
        std::thread([&] {
          CoInitialize(nullptr);
          ITestValue* received = nullptr;
          EXPECT_EQ(CoGetInterfaceAndReleaseStream(stream, IID_ITestValue, reinterpret_cast<void**>(&received)),
                    S_OK);
          if (received != nullptr) received->Release();
          CoUninitialize();
        }).join();
      }
      CoUninitialize();
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(object.Refs(), 1);
}
