// A counted reference to a COM interface: copying adds a reference, dropping
// it releases one. Not thread-safe as an object; the interface it holds is.
#pragma once

#include <utility>

#include "platform/com.h"

template <typename T>
class ZeltoComPtr {
public:
  ZeltoComPtr() = default;
  // Takes a reference of its own.
  explicit ZeltoComPtr(T* object) : pointer(object) {
    if (pointer) pointer->AddRef();
  }
  ZeltoComPtr(const ZeltoComPtr& other) : ZeltoComPtr(other.pointer) {}
  ZeltoComPtr(ZeltoComPtr&& other) noexcept : pointer(std::exchange(other.pointer, nullptr)) {}
  ~ZeltoComPtr() { Reset(); }

  ZeltoComPtr& operator=(const ZeltoComPtr& other) {
    if (this != &other) {
      T* old = pointer;
      pointer = other.pointer;
      if (pointer) pointer->AddRef();
      if (old) old->Release();
    }
    return *this;
  }
  ZeltoComPtr& operator=(ZeltoComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer = std::exchange(other.pointer, nullptr);
    }
    return *this;
  }

  // Empties the holder first, so that a Release that calls back finds it empty.
  void Reset() {
    if (T* old = std::exchange(pointer, nullptr)) old->Release();
  }
  // For out-parameters of driver calls: releases what is held.
  T** Receive() {
    Reset();
    return &pointer;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  T* Get() const { return pointer; }
  T* operator->() const { return pointer; }
  explicit operator bool() const { return pointer != nullptr; }

  // Asks the held interface for another one; an empty holder yields E_POINTER.
  template <typename U>
  HRESULT QueryInto(REFIID iid, ZeltoComPtr<U>& out) const {
    if (!pointer) return E_POINTER;
    return pointer->QueryInterface(iid, out.ReceiveVoid());
  }

private:
  T* pointer = nullptr;
};
