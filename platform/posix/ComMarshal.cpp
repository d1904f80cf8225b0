// Inter-thread marshalling without proxies. The marshalled form is a small
// record naming an entry of a process-wide table; the entry holds one counted
// reference to the interface until it is unmarshalled. A stream that does not
// carry such a record is refused, never dereferenced.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/posix/ComInternal.h"
#include "platform/posix/com_api.h"

namespace {

constexpr std::uint32_t kSignature = 0x4D54465Au;  // "ZFTM"

// The unmarshalling class the free-threaded marshaller names, as COM reports it.
constexpr CLSID kFreeThreadedUnmarshaler = {
    0x0000033A, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct MarshalRecord {
  std::uint32_t signature;
  std::uint32_t flags;
  std::uint64_t token;
};

struct Entry {
  IUnknown* object;
  DWORD flags;
};

struct MarshalTable {
  std::mutex lock;
  std::uint64_t lastToken = 0;
  std::unordered_map<std::uint64_t, Entry> entries;
};

MarshalTable& table() {
  static MarshalTable* instance = new MarshalTable;  // outlives every thread
  return *instance;
}

bool isTableMarshal(DWORD flags) {
  return (flags & (MSHLFLAGS_TABLESTRONG | MSHLFLAGS_TABLEWEAK)) != 0;
}

// Takes over the reference that `object` carries: into the table on success,
// released on failure.
HRESULT writeRecord(IStream* stream, IUnknown* object, DWORD flags) {
  MarshalTable& t = table();
  MarshalRecord record{kSignature, flags, 0};
  try {
    std::lock_guard guard(t.lock);
    record.token = ++t.lastToken;
    t.entries.emplace(record.token, Entry{object, flags});
  } catch (const std::bad_alloc&) {
    object->Release();
    return E_OUTOFMEMORY;
  }
  ULONG written = 0;
  HRESULT hr = stream->Write(&record, sizeof record, &written);
  if (SUCCEEDED(hr) && written != sizeof record) hr = STG_E_MEDIUMFULL;
  if (FAILED(hr)) {
    {
      std::lock_guard guard(t.lock);
      t.entries.erase(record.token);
    }
    object->Release();
  }
  return hr;
}

HRESULT readRecord(IStream* stream, MarshalRecord* record) {
  ULONG read = 0;
  HRESULT hr = stream->Read(record, sizeof *record, &read);
  if (FAILED(hr)) return hr;
  if (read != sizeof *record) return STG_E_READFAULT;
  if (record->signature != kSignature) return RPC_E_INVALID_OBJREF;
  return S_OK;
}

// Reads a record and returns its interface with one reference for the caller.
// A normal marshal is used up by this; a table marshal stays until released.
HRESULT takeRecord(IStream* stream, IUnknown** object) {
  MarshalRecord record{};
  HRESULT hr = readRecord(stream, &record);
  if (FAILED(hr)) return hr;
  MarshalTable& t = table();
  std::lock_guard guard(t.lock);
  auto it = t.entries.find(record.token);
  if (it == t.entries.end()) return CO_E_OBJNOTCONNECTED;
  *object = it->second.object;
  if (isTableMarshal(it->second.flags))
    (*object)->AddRef();
  else
    t.entries.erase(it);
  return S_OK;
}

HRESULT releaseRecord(IStream* stream) {
  MarshalRecord record{};
  HRESULT hr = readRecord(stream, &record);
  if (FAILED(hr)) return hr;
  IUnknown* object = nullptr;
  {
    MarshalTable& t = table();
    std::lock_guard guard(t.lock);
    auto it = t.entries.find(record.token);
    if (it == t.entries.end()) return CO_E_OBJNOTCONNECTED;
    object = it->second.object;
    t.entries.erase(it);
  }
  object->Release();
  return S_OK;
}

HRESULT marshalObject(IStream* stream, REFIID riid, IUnknown* object, DWORD flags) {
  IUnknown* itf = nullptr;
  HRESULT hr = object->QueryInterface(riid, reinterpret_cast<void**>(&itf));
  if (FAILED(hr)) return hr;
  if (itf == nullptr) return E_UNEXPECTED;
  return writeRecord(stream, itf, flags);
}

HRESULT unmarshalObject(IStream* stream, REFIID riid, void** ppv) {
  IUnknown* object = nullptr;
  HRESULT hr = takeRecord(stream, &object);
  if (FAILED(hr)) return hr;
  hr = object->QueryInterface(riid, ppv);
  object->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

bool inProcess(DWORD context) { return context == MSHCTX_INPROC || context == MSHCTX_CROSSCTX; }

// The free-threaded marshaller: an aggregatable object whose IMarshal writes
// the interface itself. Its own IUnknown does not delegate; IMarshal's does.
class FreeThreadedMarshaler final : public IMarshal {
 public:
  explicit FreeThreadedMarshaler(IUnknown* outer) : inner_(this), outer_(outer ? outer : &inner_) {}

  IUnknown* Inner() { return &inner_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return outer_->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

  HRESULT STDMETHODCALLTYPE GetUnmarshalClass(REFIID, void*, DWORD dwDestContext, void*, DWORD,
                                              CLSID* pCid) override {
    if (pCid == nullptr) return E_INVALIDARG;
    // No other process can be reached here: there is no standard marshaller.
    if (!inProcess(dwDestContext)) return E_NOTIMPL;
    *pCid = kFreeThreadedUnmarshaler;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMarshalSizeMax(REFIID, void*, DWORD dwDestContext, void*, DWORD,
                                              DWORD* pSize) override {
    if (pSize == nullptr) return E_INVALIDARG;
    if (!inProcess(dwDestContext)) return E_NOTIMPL;
    *pSize = sizeof(MarshalRecord);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MarshalInterface(IStream* pStm, REFIID riid, void* pv,
                                             DWORD dwDestContext, void*,
                                             DWORD mshlflags) override {
    if (pStm == nullptr || pv == nullptr) return E_INVALIDARG;
    if (!inProcess(dwDestContext)) return E_NOTIMPL;
    return marshalObject(pStm, riid, static_cast<IUnknown*>(pv), mshlflags);
  }
  HRESULT STDMETHODCALLTYPE UnmarshalInterface(IStream* pStm, REFIID riid, void** ppv) override {
    if (pStm == nullptr || ppv == nullptr) return E_INVALIDARG;
    return unmarshalObject(pStm, riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE ReleaseMarshalData(IStream* pStm) override {
    if (pStm == nullptr) return E_INVALIDARG;
    return releaseRecord(pStm);
  }
  HRESULT STDMETHODCALLTYPE DisconnectObject(DWORD) override { return S_OK; }

 private:
  struct InnerUnknown final : IUnknown {
    explicit InnerUnknown(FreeThreadedMarshaler* owner) : owner(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      if (ppv == nullptr) return E_POINTER;
      if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
      } else if (IsEqualIID(riid, IID_IMarshal)) {
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
    FreeThreadedMarshaler* owner;
  };

  InnerUnknown inner_;
  IUnknown* outer_;
  std::atomic<ULONG> refs_{1};
};

}  // namespace

HRESULT STDAPICALLTYPE CoCreateFreeThreadedMarshaler(LPUNKNOWN punkOuter, LPUNKNOWN* ppunkMarshal) {
  if (ppunkMarshal == nullptr) return E_INVALIDARG;
  auto* marshaler = new (std::nothrow) FreeThreadedMarshaler(punkOuter);
  *ppunkMarshal = marshaler ? marshaler->Inner() : nullptr;
  return marshaler ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDAPICALLTYPE CoMarshalInterface(LPSTREAM pStm, REFIID riid, LPUNKNOWN pUnk, DWORD dwDestContext,
                                          LPVOID pvDestContext, DWORD mshlflags) {
  if (pStm == nullptr || pUnk == nullptr) return E_INVALIDARG;
  // An object with a marshaller of its own writes itself; only what the
  // free-threaded unmarshaller reads can be unmarshalled here, as there is
  // no class registry to make another unmarshaller from.
  IMarshal* marshal = nullptr;
  if (SUCCEEDED(pUnk->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal))) && marshal != nullptr) {
    CLSID unmarshaler{};
    HRESULT hr = marshal->GetUnmarshalClass(riid, pUnk, dwDestContext, pvDestContext, mshlflags, &unmarshaler);
    if (SUCCEEDED(hr) && !IsEqualGUID(unmarshaler, kFreeThreadedUnmarshaler)) hr = E_NOTIMPL;
    if (SUCCEEDED(hr)) hr = marshal->MarshalInterface(pStm, riid, pUnk, dwDestContext, pvDestContext, mshlflags);
    marshal->Release();
    return hr;
  }
  // Any other would need a stub in the caller's apartment.
  if (zelto::platform::com::CurrentApartment() == 0) return CO_E_NOTINITIALIZED;
  return marshalObject(pStm, riid, pUnk, mshlflags);
}

HRESULT STDAPICALLTYPE CoUnmarshalInterface(LPSTREAM pStm, REFIID riid, LPVOID* ppv) {
  if (pStm == nullptr || ppv == nullptr) return E_INVALIDARG;
  if (zelto::platform::com::CurrentApartment() == 0) return CO_E_NOTINITIALIZED;
  return unmarshalObject(pStm, riid, ppv);
}

HRESULT STDAPICALLTYPE CoReleaseMarshalData(LPSTREAM pStm) {
  if (pStm == nullptr) return E_INVALIDARG;
  return releaseRecord(pStm);
}

HRESULT STDAPICALLTYPE CoMarshalInterThreadInterfaceInStream(REFIID riid, LPUNKNOWN pUnk,
                                                             LPSTREAM* ppStm) {
  if (ppStm == nullptr) return E_INVALIDARG;
  *ppStm = nullptr;
  if (pUnk == nullptr) return E_INVALIDARG;
  IStream* stream = zelto::platform::com::NewMemoryStream();
  if (stream == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = CoMarshalInterface(stream, riid, pUnk, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL);
  if (FAILED(hr)) {
    stream->Release();
    return hr;
  }
  LARGE_INTEGER start{};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  *ppStm = stream;
  return S_OK;
}

// The stream is released whatever the outcome, as COM does.
HRESULT STDAPICALLTYPE CoGetInterfaceAndReleaseStream(LPSTREAM pStm, REFIID iid, LPVOID* ppv) {
  if (pStm == nullptr) return E_INVALIDARG;
  HRESULT hr = CoUnmarshalInterface(pStm, iid, ppv);
  pStm->Release();
  return hr;
}
