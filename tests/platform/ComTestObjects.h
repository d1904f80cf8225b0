// Test objects for the COM tests: an object whose references can be counted,
// optionally aggregating the free-threaded marshaller; a class factory; and a
// thread that stays in an apartment and runs work handed to it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/com.h"

namespace comtest {

// {6F1D2C4A-7B3E-4C55-9A10-2B3C4D5E6F70}
inline constexpr IID IID_ITestValue = {
    0x6F1D2C4A, 0x7B3E, 0x4C55, {0x9A, 0x10, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70}};
// {6F1D2C4A-7B3E-4C55-9A10-2B3C4D5E6F71}
inline constexpr CLSID CLSID_TestValue = {
    0x6F1D2C4A, 0x7B3E, 0x4C55, {0x9A, 0x10, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x71}};

MIDL_INTERFACE("6F1D2C4A-7B3E-4C55-9A10-2B3C4D5E6F70")
ITestValue : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE GetValue(int* value) = 0;
};

// QueryInterface's answer for an object with one interface beside IUnknown.
template <typename I>
HRESULT Answer(I* self, bool known, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = known ? self : nullptr;
  if (!known) return E_NOINTERFACE;
  self->AddRef();
  return S_OK;
}

// Objects made by the factory delete themselves; the count of live ones shows
// leaks. A test-owned object is never deleted by Release, so its count can be
// read after every reference is gone.
inline std::atomic<int> liveObjects{0};

class TestValue final : public ITestValue {
 public:
  explicit TestValue(bool freeThreaded, int value = 42, bool owned = false)
      : value_(value), owned_(owned) {
    ++liveObjects;
    if (freeThreaded) {
      EXPECT_EQ(CoCreateFreeThreadedMarshaler(this, &marshaler_), S_OK);
    }
  }
  ~TestValue() {
    if (marshaler_ != nullptr) marshaler_->Release();
    --liveObjects;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (marshaler_ != nullptr && ppv != nullptr && IsEqualIID(riid, IID_IMarshal))
      return marshaler_->QueryInterface(riid, ppv);
    return Answer(static_cast<ITestValue*>(this), IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITestValue),
                  ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --refs_;
    if (left == 0 && owned_) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE GetValue(int* value) override {
    *value = value_;
    return S_OK;
  }

  long Refs() const { return refs_; }

 private:
  std::atomic<long> refs_{1};
  IUnknown* marshaler_ = nullptr;
  int value_;
  bool owned_;
};

class TestFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return Answer(static_cast<IClassFactory*>(this),
                  IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory), ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* object = new TestValue(true, 7, true);
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  long Refs() const { return refs_; }

 private:
  std::atomic<long> refs_{1};
};

// A thread that enters an apartment, runs the work handed to it, and leaves
// the apartment when destroyed.
class ApartmentThread {
 public:
  explicit ApartmentThread(DWORD coinit) {
    thread_ = std::thread([this, coinit] {
      initResult_ = CoInitializeEx(nullptr, coinit);
      for (;;) {
        std::function<void()> task;
        {
          std::unique_lock lock(mutex_);
          wake_.wait(lock, [this] { return task_ != nullptr || stop_; });
          if (task_ == nullptr) break;
          task = task_;
        }
        task();
        std::lock_guard lock(mutex_);
        task_ = nullptr;
        wake_.notify_all();
      }
      if (SUCCEEDED(initResult_)) CoUninitialize();
    });
    Run([] {});  // the apartment exists once the constructor returns
  }
  ~ApartmentThread() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  // Runs `task` on the thread and returns when it has finished.
  void Run(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    task_ = std::move(task);
    wake_.notify_all();
    if (!wake_.wait_for(lock, std::chrono::seconds(60), [this] { return task_ == nullptr; })) {
      std::fprintf(stderr, "apartment thread did not finish its task\n");
      std::abort();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::function<void()> task_;
  bool stop_ = false;
  HRESULT initResult_ = E_UNEXPECTED;
  std::thread thread_;
};

// Runs `body` on a new thread that has not initialised COM, and waits for it.
inline void OnFreshThread(const std::function<void()>& body) { std::thread(body).join(); }

}  // namespace comtest
