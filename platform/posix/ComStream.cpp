// A memory stream: the carrier of marshalled interfaces, and what
// CreateStreamOnHGlobal returns. Clones share the bytes and keep their own
// position. Every call takes the shared lock, so a stream may be handed
// between threads.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/posix/ComInternal.h"
#include "platform/posix/com_api.h"

namespace {

struct SharedBytes {
  std::mutex lock;
  std::vector<BYTE> bytes;
};

class MemoryStream final : public IStream {
 public:
  MemoryStream(std::shared_ptr<SharedBytes> shared, ULONGLONG position)
      : shared_(std::move(shared)), position_(position) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) ||
        IsEqualIID(riid, IID_IStream)) {
      *ppv = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pv == nullptr) return STG_E_INVALIDPOINTER;
    std::lock_guard guard(shared_->lock);
    const auto& bytes = shared_->bytes;
    ULONG count = 0;
    if (position_ < bytes.size())
      count = static_cast<ULONG>(std::min<ULONGLONG>(cb, bytes.size() - position_));
    if (count > 0) std::memcpy(pv, bytes.data() + position_, count);
    position_ += count;
    if (pcbRead != nullptr) *pcbRead = count;
    return S_OK;  // a short read is not an error for a memory stream
  }

  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (pcbWritten != nullptr) *pcbWritten = 0;
    if (cb == 0) return S_OK;
    if (pv == nullptr) return STG_E_INVALIDPOINTER;
    std::lock_guard guard(shared_->lock);
    auto& bytes = shared_->bytes;
    const ULONGLONG end = position_ + cb;
    if (end > bytes.max_size()) return STG_E_MEDIUMFULL;
    try {
      if (end > bytes.size()) bytes.resize(static_cast<std::size_t>(end));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    std::memcpy(bytes.data() + position_, pv, cb);
    position_ = end;
    if (pcbWritten != nullptr) *pcbWritten = cb;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                                 ULARGE_INTEGER* plibNewPosition) override {
    std::lock_guard guard(shared_->lock);
    LONGLONG base = 0;
    switch (dwOrigin) {
      case STREAM_SEEK_SET: base = 0; break;
      case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(position_); break;
      case STREAM_SEEK_END: base = static_cast<LONGLONG>(shared_->bytes.size()); break;
      default: return STG_E_INVALIDFUNCTION;
    }
    const LONGLONG move = dlibMove.QuadPart;
    if ((move < 0 && base + move < 0) ||
        (move > 0 && base > std::numeric_limits<LONGLONG>::max() - move))
      return STG_E_INVALIDFUNCTION;
    position_ = static_cast<ULONGLONG>(base + move);
    if (plibNewPosition != nullptr) plibNewPosition->QuadPart = position_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) override {
    std::lock_guard guard(shared_->lock);
    auto& bytes = shared_->bytes;
    if (libNewSize.QuadPart > bytes.max_size()) return STG_E_MEDIUMFULL;
    try {
      bytes.resize(static_cast<std::size_t>(libNewSize.QuadPart));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                   ULARGE_INTEGER* pcbWritten) override {
    if (pcbRead != nullptr) pcbRead->QuadPart = 0;
    if (pcbWritten != nullptr) pcbWritten->QuadPart = 0;
    if (pstm == nullptr) return STG_E_INVALIDPOINTER;
    ULONGLONG left = cb.QuadPart;
    ULONGLONG totalRead = 0;
    ULONGLONG totalWritten = 0;
    BYTE chunk[4096];
    HRESULT hr = S_OK;
    // Chunked, and without our lock while the target writes: it may be a
    // clone of this stream.
    while (left > 0) {
      ULONG got = 0;
      hr = Read(chunk, static_cast<ULONG>(std::min<ULONGLONG>(left, sizeof chunk)), &got);
      if (FAILED(hr) || got == 0) break;
      totalRead += got;
      left -= got;
      ULONG put = 0;
      hr = pstm->Write(chunk, got, &put);
      totalWritten += put;
      if (FAILED(hr)) break;
      if (put != got) {
        hr = STG_E_MEDIUMFULL;
        break;
      }
    }
    if (pcbRead != nullptr) pcbRead->QuadPart = totalRead;
    if (pcbWritten != nullptr) pcbWritten->QuadPart = totalWritten;
    return hr;
  }

  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }

  HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD) override {
    if (pstatstg == nullptr) return STG_E_INVALIDPOINTER;
    std::lock_guard guard(shared_->lock);
    *pstatstg = STATSTG{};
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize.QuadPart = shared_->bytes.size();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) override {
    if (ppstm == nullptr) return STG_E_INVALIDPOINTER;
    ULONGLONG position = 0;
    {
      std::lock_guard guard(shared_->lock);
      position = position_;
    }
    *ppstm = new (std::nothrow) MemoryStream(shared_, position);
    return *ppstm != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::shared_ptr<SharedBytes> shared_;
  ULONGLONG position_;  // guarded by shared_->lock
  std::atomic<ULONG> refs_{1};
};

}  // namespace

namespace zelto::platform::com {

IStream* NewMemoryStream() {
  try {
    return new MemoryStream(std::make_shared<SharedBytes>(), 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace zelto::platform::com

HRESULT STDAPICALLTYPE CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL, LPSTREAM* ppstm) {
  if (ppstm == nullptr) return E_INVALIDARG;
  *ppstm = nullptr;
  // Global memory handles do not exist here.
  if (hGlobal != nullptr) return E_INVALIDARG;
  *ppstm = zelto::platform::com::NewMemoryStream();
  return *ppstm != nullptr ? S_OK : E_OUTOFMEMORY;
}
