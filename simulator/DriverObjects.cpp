#include "simulator/DriverObjects.h"

#include "simulator/Apartment.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace zelto::sim::detail {

namespace {

using ContextPtr = std::shared_ptr<const DriverContext>;

template <typename T>
HRESULT Hand(T* itf, void** out) {
  itf->AddRef();
  *out = itf;
  return S_OK;
}

// What every driver object shares: the context, the audit's count and the
// aggregated marshaller: the free-threaded one, or in the apartment-threaded
// mode one that hands other threads a proxy into the creating thread's
// apartment.
class DriverObject : public AuditedObject {
 protected:
  DriverObject(ContextPtr context, ObjectKind kind)
      : AuditedObject(context->audit, kind), context_(std::move(context)) {}

  // Called by the concrete constructor with the object's identity.
  void Aggregate(IUnknown* identity) {
    if (context_->config.apartmentThreaded)
      marshaler_ = NewApartmentMarshaler(identity, Apartment::OfThisThread());
    else if (FAILED(CoCreateFreeThreadedMarshaler(identity, &marshaler_)))
      marshaler_ = nullptr;
  }
  // QueryInterface for an object with one interface of its own (besides
  // IUnknown and the marshaller's IMarshal).
  template <typename Itf>
  HRESULT Query(Itf* self, const IID& own, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, own)) return Hand(self, out);
    if (IsEqualIID(iid, IID_IMarshal) && marshaler_) return marshaler_->QueryInterface(iid, out);
    return E_NOINTERFACE;
  }
  std::optional<HRESULT> Fault(Method method) { return context_->camcorder->Faults().Check(method); }
  Camcorder& camcorder() { return *context_->camcorder; }

  void Finish() override {
    if (marshaler_) marshaler_->Release();
    marshaler_ = nullptr;
    context_.reset();  // may end the camcorder, and its thread, here
  }

  ContextPtr context_;

 private:
  IUnknown* marshaler_ = nullptr;
};

// AddRef and Release of every object: the audit keeps the count.
#define ZELTO_SIM_UNKNOWN_METHODS                                              \
  ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(); }        \
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseReference(); }

// --- Smart control and deck control ----------------------------------------

class SmartControl final : public ISmartControl, public IDeckControl, public DriverObject {
 public:
  explicit SmartControl(ContextPtr context)
      : DriverObject(std::move(context), ObjectKind::SmartControl),
        receive_(*this),
        scan_(*this),
        transmit_(*this),
        preview_(*this),
        quality_(*this),
        memory_(*this) {
    Aggregate(static_cast<ISmartControl*>(this));
  }
  ZELTO_SIM_UNKNOWN_METHODS

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out && IsEqualIID(iid, IID_IDeckControl)) {
      *out = nullptr;
      if (auto f = Fault(Method::QueryDeckControl)) return *f;
      return Hand(static_cast<IDeckControl*>(this), out);
    }
    if (out && IsEqualIID(iid, IID_IStreamReceive)) {
      *out = nullptr;
      if (auto f = Fault(Method::QueryStreamReceive)) return *f;
      return Hand(static_cast<IStreamReceive*>(&receive_), out);
    }
    if (out && IsEqualIID(iid, IID_ITapeScan)) {
      *out = nullptr;
      if (auto f = Fault(Method::QueryTapeScan)) return *f;
      return Hand(static_cast<ITapeScan*>(&scan_), out);
    }
    if (out && IsEqualIID(iid, IID_IStreamTransmit)) {
      *out = nullptr;
      if (auto f = Fault(Method::QueryStreamTransmit)) return *f;
      return Hand(static_cast<IStreamTransmit*>(&transmit_), out);
    }
    if (out && IsEqualIID(iid, IID_IPreviewControl)) {
      *out = nullptr;
      if (auto f = Fault(Method::QueryPreviewControl)) return *f;
      return Hand(static_cast<IPreviewControl*>(&preview_), out);
    }
    if (out && IsEqualIID(iid, IID_IDecodeQuality)) {
      *out = nullptr;
      if (auto f = Fault(Method::QueryDecodeQuality)) return *f;
      return Hand(static_cast<IDecodeQuality*>(&quality_), out);
    }
    if (out && IsEqualIID(iid, IID_ICassetteMemory)) {
      *out = nullptr;
      if (auto f = Fault(Method::QueryCassetteMemory)) return *f;
      return Hand(static_cast<ICassetteMemory*>(&memory_), out);
    }
    return Query(static_cast<ISmartControl*>(this), IID_ISmartControl, iid, out);
  }

  HRESULT STDMETHODCALLTYPE AdviseWindow(HWND window, DWORD* cookie) override {
    if (cookie) *cookie = 0;
    if (auto f = Fault(Method::AdviseWindow)) return *f;
    return camcorder().Advise(window, cookie, this);
  }
  HRESULT STDMETHODCALLTYPE UnadviseWindow(DWORD cookie) override {
    if (auto f = Fault(Method::UnadviseWindow)) return *f;
    return camcorder().Unadvise(cookie, this);
  }

  HRESULT STDMETHODCALLTYPE SendCommand(DWORD command) override {
    if (auto f = Fault(Method::SendCommand)) return *f;
    return camcorder().SendCommand(command);
  }
  HRESULT STDMETHODCALLTYPE GetStatus(DWORD kind, DWORD* value) override {
    if (auto f = Fault(Method::GetStatus)) return *f;
    return camcorder().GetStatus(kind, value);
  }
  HRESULT STDMETHODCALLTYPE GetTimeCode(__MIDL___MIDL_itf_plgdefs_0000_0001* timeCode) override {
    if (auto f = Fault(Method::GetTimeCode)) return *f;
    return camcorder().GetTimeCode(timeCode);
  }
  HRESULT STDMETHODCALLTYPE SetRecordMode(BOOL record) override {
    if (auto f = Fault(Method::SetRecordMode)) return *f;
    return camcorder().SetRecordMode(record);
  }

 private:
  // The other interfaces of the same object, each a table of its own (their
  // method names would clash in one class); identity and references are
  // the smart control's.
  template <typename Itf>
  class Face : public Itf {
   public:
    explicit Face(SmartControl& outer) : outer_(outer) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return outer_.QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return outer_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return outer_.Release(); }

   protected:
    Camcorder& camcorder() { return outer_.camcorder(); }
    std::optional<HRESULT> Fault(Method method) { return outer_.Fault(method); }
    // The call, unless the panel fails it.
    template <typename Call>
    HRESULT Faulted(Method method, Call call) {
      if (auto f = Fault(method)) return *f;
      return call();
    }
    SmartControl& outer_;
  };

  class Receive final : public Face<IStreamReceive> {
   public:
    using Face::Face;
    HRESULT STDMETHODCALLTYPE Stop() override {
      return Faulted(Method::ReceiveStop, [&] { return camcorder().ReceiveStop(); });
    }
    HRESULT STDMETHODCALLTYPE SetFolder(const WCHAR* path) override {
      return Faulted(Method::SetCaptureFolder, [&] { return camcorder().SetCaptureFolder(path); });
    }
    HRESULT STDMETHODCALLTYPE SetFileName(const WCHAR* pattern, DWORD kind) override {
      return Faulted(Method::SetCaptureFileName, [&] { return camcorder().SetCaptureFileName(pattern, kind); });
    }
    HRESULT STDMETHODCALLTYPE SetOptions(DWORD flags) override {
      return Faulted(Method::SetCaptureOptions, [&] { return camcorder().SetCaptureOptions(flags); });
    }
    HRESULT STDMETHODCALLTYPE SetStreamTypes(const GUID_LIST* types) override {
      if (auto f = Fault(Method::SetStreamTypes)) return *f;
      return camcorder().SetStreamTypes(types);
    }
    HRESULT STDMETHODCALLTYPE StartDirect() override {
      if (auto f = Fault(Method::StartCapture)) {
        camcorder().CaptureRefused();
        return *f;
      }
      return camcorder().StartDirectCapture();
    }
    HRESULT STDMETHODCALLTYPE Abort() override {
      return Faulted(Method::AbortCapture, [&] { return camcorder().AbortCapture(); });
    }
    HRESULT STDMETHODCALLTYPE Reserved10() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMaxFileSize(ULONGLONG bytes) override {
      return Faulted(Method::SetMaxCaptureFileSize, [&] { return camcorder().SetMaxCaptureFileSize(bytes); });
    }
    HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ClearBatch() override {
      return Faulted(Method::ClearBatch, [&] { return camcorder().ClearBatch(); });
    }
    HRESULT STDMETHODCALLTYPE AddBatchItem(DWORD inPoint, DWORD, const WCHAR* pattern, DWORD kind) override {
      return Faulted(Method::AddBatchItem, [&] { return camcorder().AddBatchItem(inPoint, pattern, kind); });
    }
    HRESULT STDMETHODCALLTYPE StartBatch() override {
      if (auto f = Fault(Method::StartCapture)) {
        camcorder().CaptureRefused();
        return *f;
      }
      return camcorder().StartBatchCapture();
    }
    HRESULT STDMETHODCALLTYPE StopBatch() override {
      return Faulted(Method::StopBatchCapture, [&] { return camcorder().StopBatchCapture(); });
    }
  };

  class Scan final : public Face<ITapeScan> {
   public:
    using Face::Face;
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved6() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StartScan(DWORD flags) override {
      if (auto f = Fault(Method::StartScan)) {
        camcorder().ScanRefused();
        return *f;
      }
      return camcorder().StartScan(flags);
    }
    HRESULT STDMETHODCALLTYPE StopScan() override {
      return Faulted(Method::StopScan, [&] { return camcorder().StopScan(); });
    }
  };

  class Transmit final : public Face<IStreamTransmit> {
   public:
    using Face::Face;
    HRESULT STDMETHODCALLTYPE SetFile(const WCHAR* path) override {
      return Faulted(Method::SetTransmitFile, [&] { return camcorder().SetTransmitFile(path); });
    }
    HRESULT STDMETHODCALLTYPE Start() override {
      if (auto f = Fault(Method::StartTransmit)) {
        camcorder().TransmitRefused();
        return *f;
      }
      return camcorder().StartTransmit();
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
      return Faulted(Method::StopTransmit, [&] { return camcorder().StopTransmit(); });
    }
    HRESULT STDMETHODCALLTYPE SetMargins(DWORD first, DWORD second) override {
      return Faulted(Method::SetTransmitMargins, [&] { return camcorder().SetTransmitMargins(first, second); });
    }
  };

  class Preview final : public Face<IPreviewControl> {
   public:
    using Face::Face;
    HRESULT STDMETHODCALLTYPE SetOwnerWindow(HWND window) override {
      return Faulted(Method::SetPreviewOwner, [&] { return camcorder().SetPreviewOwner(window); });
    }
    HRESULT STDMETHODCALLTYPE SetWindowRect(const RECT* rect) override {
      return Faulted(Method::SetPreviewRect, [&] { return camcorder().SetPreviewRect(rect); });
    }
    HRESULT STDMETHODCALLTYPE SetMode(DWORD mode) override {
      return Faulted(Method::SetPreviewMode, [&] { return camcorder().SetPreviewMode(mode); });
    }
    HRESULT STDMETHODCALLTYPE SetVolume(DWORD level) override {
      return Faulted(Method::SetPreviewVolume, [&] { return camcorder().SetPreviewVolume(level); });
    }
  };

  class Quality final : public Face<IDecodeQuality> {
   public:
    using Face::Face;
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetQuality(DWORD code, BOOL deinterlace) override {
      return Faulted(Method::SetDecodeQuality, [&] { return camcorder().SetDecodeQuality(code, deinterlace); });
    }
  };

  class Memory final : public Face<ICassetteMemory> {
   public:
    using Face::Face;
    HRESULT STDMETHODCALLTYPE GetHeader(CASSETTE_MEMORY_HEADER* header) override {
      return Faulted(Method::GetMemoryHeader, [&] { return camcorder().GetMemoryHeader(header); });
    }
    HRESULT STDMETHODCALLTYPE GetRecord(DWORD sequence, DWORD index, CASSETTE_MEMORY_RECORD* record) override {
      return Faulted(Method::GetMemoryRecord, [&] { return camcorder().GetMemoryRecord(sequence, index, record); });
    }
    HRESULT STDMETHODCALLTYPE SetRecordKey(DWORD sequence, DWORD index, DWORD key) override {
      return Faulted(Method::SetMemoryRecordKey, [&] { return camcorder().SetMemoryRecordKey(sequence, index, key); });
    }
    HRESULT STDMETHODCALLTYPE SetText(const WCHAR* text) override {
      return Faulted(Method::SetMemoryText, [&] { return camcorder().SetMemoryText(text); });
    }
  };

  void Finish() override {
    // Windows still advised through this object hear nothing more.
    camcorder().UnadviseAll(this);
    DriverObject::Finish();
  }

  Receive receive_;
  Scan scan_;
  Transmit transmit_;
  Preview preview_;
  Quality quality_;
  Memory memory_;
};

// --- Units ------------------------------------------------------------------

class Unit final : public IUnitMoniker, public IUnitProperties, public DriverObject {
 public:
  Unit(ContextPtr context, UnitConfig config)
      : DriverObject(std::move(context), ObjectKind::Unit), config_(std::move(config)) {
    Aggregate(static_cast<IUnitMoniker*>(this));
  }
  ZELTO_SIM_UNKNOWN_METHODS

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out && IsEqualIID(iid, IID_IUnitProperties)) {
      *out = nullptr;
      if (auto f = Fault(Method::QueryUnitProperties)) return *f;
      if (config_.propertiesFail) return E_NOINTERFACE;
      return Hand(static_cast<IUnitProperties*>(this), out);
    }
    return Query(static_cast<IUnitMoniker*>(this), IID_IUnitMoniker, iid, out);
  }

  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved6() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE BindToObject(IUnknown*, IUnitMoniker*, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (auto f = Fault(Method::BindToObject)) return *f;
    if (config_.bindFails) return E_FAIL;
    if (camcorder().Removed()) return kErrorDeviceRemoved;
    SmartControl* control = nullptr;
    try {
      control = new SmartControl(context_);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = control->QueryInterface(iid, object);
    control->Release();
    if (SUCCEEDED(hr)) camcorder().NoteBind(config_.label.empty() ? config_.modelText : config_.label);
    return hr;
  }

  HRESULT STDMETHODCALLTYPE GetStringProperty(const WCHAR* name, const WCHAR** value) override {
    if (value) *value = nullptr;
    if (auto f = Fault(Method::GetStringProperty)) return *f;
    if (!name || !value) return E_POINTER;
    if (std::wstring_view(name) != L"UnitModelText") return E_INVALIDARG;
    *value = config_.modelText.c_str();  // lives as long as this unit
    return S_OK;
  }

 private:
  const UnitConfig config_;
};

class UnitEnumerator final : public IEnumUnits, public DriverObject {
 public:
  UnitEnumerator(ContextPtr context, std::vector<UnitConfig> units)
      : DriverObject(std::move(context), ObjectKind::UnitEnumerator), units_(std::move(units)) {
    Aggregate(static_cast<IEnumUnits*>(this));
  }
  ZELTO_SIM_UNKNOWN_METHODS

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return Query(static_cast<IEnumUnits*>(this), IID_IEnumUnits, iid, out);
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IUnitMoniker** units, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (auto f = Fault(Method::NextUnit)) return *f;
    if (!units || (!fetched && count != 1)) return E_POINTER;
    ULONG n = 0;
    std::lock_guard guard(lock_);
    while (n < count && next_ < units_.size()) {
      try {
        units[n] = new Unit(context_, units_[next_]);
      } catch (const std::bad_alloc&) {
        break;
      }
      ++n;
      ++next_;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }

 private:
  std::mutex lock_;
  const std::vector<UnitConfig> units_;
  std::size_t next_ = 0;
};

class UnitCollection final : public IUnitCollection, public DriverObject {
 public:
  UnitCollection(ContextPtr context, int classIndex)
      : DriverObject(std::move(context), ObjectKind::UnitCollection), classIndex_(classIndex) {
    Aggregate(static_cast<IUnitCollection*>(this));
  }
  ZELTO_SIM_UNKNOWN_METHODS

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return Query(static_cast<IUnitCollection*>(this), IID_IUnitCollection, iid, out);
  }

  HRESULT STDMETHODCALLTYPE EnumUnits(IEnumUnits** units) override {
    if (units) *units = nullptr;
    if (auto f = Fault(Method::EnumUnits)) return *f;
    if (!units) return E_POINTER;
    const DriverClassConfig& config = context_->config.classes[static_cast<std::size_t>(classIndex_)];
    if (config.enumFails) return E_FAIL;
    // An unplugged camcorder has no unit to offer.
    std::vector<UnitConfig> present;
    if (!camcorder().Removed()) present = config.units;
    try {
      *units = new UnitEnumerator(context_, std::move(present));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  const int classIndex_;
};

class ClassEnumerator final : public IDriverClassEnumerator, public DriverObject {
 public:
  explicit ClassEnumerator(ContextPtr context) : DriverObject(std::move(context), ObjectKind::ClassEnumerator) {
    Aggregate(static_cast<IDriverClassEnumerator*>(this));
  }
  ZELTO_SIM_UNKNOWN_METHODS

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return Query(static_cast<IDriverClassEnumerator*>(this), IID_IDriverClassEnumerator, iid, out);
  }

  HRESULT STDMETHODCALLTYPE GetDriverClasses(DWORD count, const GUID* streamTypes, DRIVER_CLASS_LIST* classes) override {
    if (classes) *classes = DRIVER_CLASS_LIST{0, nullptr};
    if (auto f = Fault(Method::GetDriverClasses)) return *f;
    if (!classes || (count != 0 && !streamTypes)) return E_POINTER;
    std::vector<CLSID> found;
    for (const DriverClassConfig& c : context_->config.classes) {
      bool handles = false;
      for (DWORD i = 0; i < count && !handles; ++i)
        for (const GUID& type : c.streamTypes) handles = handles || IsEqualGUID(type, streamTypes[i]);
      if (handles) found.push_back(c.clsid);
    }
    if (found.empty()) return S_OK;
    auto* list = static_cast<CLSID*>(CoTaskMemAlloc(found.size() * sizeof(CLSID)));
    if (!list) return E_OUTOFMEMORY;
    std::memcpy(list, found.data(), found.size() * sizeof(CLSID));
    *classes = DRIVER_CLASS_LIST{static_cast<DWORD>(found.size()), list};
    return S_OK;
  }
};

class ClassFactory final : public IClassFactory, public DriverObject {
 public:
  ClassFactory(ContextPtr context, int classIndex)
      : DriverObject(std::move(context), ObjectKind::ClassFactory), classIndex_(classIndex) {
    Aggregate(static_cast<IClassFactory*>(this));
  }
  ZELTO_SIM_UNKNOWN_METHODS

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return Query(static_cast<IClassFactory*>(this), IID_IClassFactory, iid, out);
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (auto f = Fault(classIndex_ < 0 ? Method::CreateClassEnumerator : Method::CreateUnitCollection)) return *f;
    IUnknown* object = nullptr;
    try {
      if (classIndex_ < 0)
        object = static_cast<IDriverClassEnumerator*>(new ClassEnumerator(context_));
      else
        object = static_cast<IUnitCollection*>(new UnitCollection(context_, classIndex_));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  const int classIndex_;
};

}  // namespace

IClassFactory* NewClassFactory(std::shared_ptr<const DriverContext> context, int classIndex) {
  try {
    return new ClassFactory(std::move(context), classIndex);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace zelto::sim::detail
