// Small fakes of the driver's interfaces for the device library's unit
// tests. Every fake is owned by the test: Release never deletes it, so its
// reference count can be read after the library has let go of it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com.h"
#include "zelto/bridge/DriverInterfaces.h"

namespace devtest {

// A counted COM object that the test owns.
template <typename... Interfaces>
class Owned : public Interfaces... {
public:
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  long Refs() const { return refs.load(); }

protected:
  std::atomic<long> refs{0};
};

inline bool Same(REFIID a, REFIID b) { return IsEqualGUID(a, b) != 0; }

// Hands out `object` (null: the interface is not offered), as QueryInterface does.
inline HRESULT HandOut(void** out, IUnknown* object) {
  if (!out) return E_POINTER;
  *out = object;
  if (!object) return E_NOINTERFACE;
  object->AddRef();
  return S_OK;
}

// What a thread other than the fakes' owner gets when it obtains one of
// their interfaces, as unmarshalling does: by default the object itself (a
// free-threaded driver); with an apartment set, whatever it hands out (see
// tests/scapture/FakeApartment.h).
class Apartment {
public:
  virtual bool OnOwnerThread() const = 0;
  // `object` is the interface asked for, without a reference added.
  virtual HRESULT HandOutProxy(REFIID iid, IUnknown* object, void** out) = 0;

protected:
  ~Apartment() = default;
};

// The reach of a fake across threads: the free-threaded marshaller,
// aggregated as the simulated driver does (so that real COM marshals the
// fakes without proxies of its own), and an optional apartment.
class CrossThread {
public:
  std::atomic<Apartment*> apartment{nullptr};

  ~CrossThread() {
    if (marshaller) marshaller->Release();
  }

protected:
  HRESULT Reach(REFIID iid, IUnknown* object, void** out) {
    if (Apartment* owner = apartment.load(); owner && object && !owner->OnOwnerThread())
      return owner->HandOutProxy(iid, object, out);
    return HandOut(out, object);
  }
  HRESULT Marshaller(IUnknown* outer, void** out) {
    {
      std::lock_guard<std::mutex> guard(marshallerLock);
      if (!marshaller && FAILED(CoCreateFreeThreadedMarshaler(outer, &marshaller))) marshaller = nullptr;
    }
    if (!marshaller) return HandOut(out, nullptr);
    return marshaller->QueryInterface(IID_IMarshal, out);
  }

private:
  std::mutex marshallerLock;
  IUnknown* marshaller = nullptr;
};

// Records the calls of one driver interface as text, e.g.
// L"AddBatchItem(100,0,Tape-001-%02d.zlt,1)", in the order they came.
class CallLog {
public:
  void Add(std::wstring call) {
    std::lock_guard<std::mutex> guard(lock);
    calls.push_back(std::move(call));
  }
  // The calls so far, and forgets them.
  std::vector<std::wstring> Take() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::wstring> taken;
    taken.swap(calls);
    return taken;
  }

private:
  std::mutex lock;
  std::vector<std::wstring> calls;
};

// The driver's receiving path: records every call.
class FakeStreamReceive final : public Owned<IStreamReceive>, public CrossThread {
public:
  HRESULT streamTypesResult = S_OK;
  // The stream types of the last SetStreamTypes.
  std::vector<GUID> streamTypes;
  CallLog log;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Same(iid, IID_IMarshal)) return Marshaller(this, out);
    return Reach(iid, Same(iid, IID_IUnknown) || Same(iid, IID_IStreamReceive) ? this : nullptr, out);
  }
  HRESULT STDMETHODCALLTYPE Stop() override { return Note(L"Stop"); }
  HRESULT STDMETHODCALLTYPE SetFolder(const WCHAR* path) override { return Note(L"SetFolder(" + Text(path) + L")"); }
  HRESULT STDMETHODCALLTYPE SetFileName(const WCHAR* pattern, DWORD kind) override {
    return Note(L"SetFileName(" + Text(pattern) + L"," + std::to_wstring(kind) + L")");
  }
  HRESULT STDMETHODCALLTYPE SetOptions(DWORD flags) override {
    return Note(L"SetOptions(" + std::to_wstring(flags) + L")");
  }
  HRESULT STDMETHODCALLTYPE SetStreamTypes(const GUID_LIST* types) override {
    streamTypes.assign(types->guids, types->guids + types->count);
    Note(L"SetStreamTypes");
    return streamTypesResult;
  }
  HRESULT STDMETHODCALLTYPE StartDirect() override { return Note(L"StartDirect"); }
  HRESULT STDMETHODCALLTYPE Abort() override { return Note(L"Abort"); }
  HRESULT STDMETHODCALLTYPE Reserved10() override { return Note(L"Reserved10"); }
  HRESULT STDMETHODCALLTYPE SetMaxFileSize(ULONGLONG bytes) override {
    return Note(L"SetMaxFileSize(" + std::to_wstring(bytes) + L")");
  }
  HRESULT STDMETHODCALLTYPE Reserved12() override { return Note(L"Reserved12"); }
  HRESULT STDMETHODCALLTYPE ClearBatch() override { return Note(L"ClearBatch"); }
  HRESULT STDMETHODCALLTYPE AddBatchItem(DWORD inPoint, DWORD reserved, const WCHAR* pattern, DWORD kind) override {
    return Note(L"AddBatchItem(" + std::to_wstring(inPoint) + L"," + std::to_wstring(reserved) + L"," + Text(pattern) +
                L"," + std::to_wstring(kind) + L")");
  }
  HRESULT STDMETHODCALLTYPE StartBatch() override { return Note(L"StartBatch"); }
  HRESULT STDMETHODCALLTYPE StopBatch() override { return Note(L"StopBatch"); }

private:
  static std::wstring Text(const WCHAR* text) { return text ? std::wstring(text) : std::wstring(L"(null)"); }
  HRESULT Note(std::wstring call) {
    log.Add(std::move(call));
    return S_OK;
  }
};

// The driver's tape scan: records every call.
class FakeTapeScan final : public Owned<ITapeScan> {
public:
  CallLog log;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return HandOut(out, Same(iid, IID_IUnknown) || Same(iid, IID_ITapeScan) ? this : nullptr);
  }
  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved6() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE StartScan(DWORD flags) override {
    log.Add(L"StartScan(" + std::to_wstring(flags) + L")");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE StopScan() override {
    log.Add(L"StopScan");
    return S_OK;
  }
};

// The driver's file-to-tape path: records every call, in its own log and
// in the journal it is given.
class FakeStreamTransmit final : public Owned<IStreamTransmit> {
public:
  explicit FakeStreamTransmit(CallLog& journal) : journal(journal) {}
  HRESULT setFileResult = S_OK;
  CallLog log;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return HandOut(out, Same(iid, IID_IUnknown) || Same(iid, IID_IStreamTransmit) ? this : nullptr);
  }
  HRESULT STDMETHODCALLTYPE SetFile(const WCHAR* path) override {
    Note(L"SetFile(" + std::wstring(path ? path : L"(null)") + L")");
    return setFileResult;
  }
  HRESULT STDMETHODCALLTYPE Start() override { return Note(L"Start"); }
  HRESULT STDMETHODCALLTYPE Stop() override { return Note(L"Stop"); }
  HRESULT STDMETHODCALLTYPE SetMargins(DWORD first, DWORD second) override {
    return Note(L"SetMargins(" + std::to_wstring(first) + L"," + std::to_wstring(second) + L")");
  }

private:
  HRESULT Note(const std::wstring& call) {
    log.Add(call);
    journal.Add(L"transmit." + call);
    return S_OK;
  }
  CallLog& journal;
};

// The decode quality, asked of the preview control.
class FakeDecodeQuality final : public Owned<IDecodeQuality> {
public:
  explicit FakeDecodeQuality(CallLog& journal) : journal(journal) {}
  HRESULT result = S_OK;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return HandOut(out, Same(iid, IID_IUnknown) || Same(iid, IID_IDecodeQuality) ? this : nullptr);
  }
  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetQuality(DWORD code, BOOL deinterlace) override {
    journal.Add(L"preview.SetQuality(" + std::to_wstring(code) + L"," + std::to_wstring(deinterlace) + L")");
    return result;
  }

private:
  CallLog& journal;
};

// The driver's preview: records every call in the journal; each method
// answers with its own result, set by the test.
class FakePreview final : public Owned<IPreviewControl> {
public:
  explicit FakePreview(CallLog& journal) : decodeQuality(journal), journal(journal) {}
  bool decodeQualityAvailable = true;
  FakeDecodeQuality decodeQuality;
  HRESULT ownerWindowResult = S_OK;
  HRESULT windowRectResult = S_OK;
  HRESULT modeResult = S_OK;
  HRESULT volumeResult = S_OK;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Same(iid, IID_IDecodeQuality)) return HandOut(out, decodeQualityAvailable ? &decodeQuality : nullptr);
    return HandOut(out, Same(iid, IID_IUnknown) || Same(iid, IID_IPreviewControl) ? this : nullptr);
  }
  HRESULT STDMETHODCALLTYPE SetOwnerWindow(HWND window) override {
    journal.Add(L"preview.SetOwnerWindow(" + std::to_wstring(reinterpret_cast<std::uintptr_t>(window)) + L")");
    return ownerWindowResult;
  }
  HRESULT STDMETHODCALLTYPE SetWindowRect(const RECT* rect) override {
    journal.Add(L"preview.SetWindowRect(" + std::to_wstring(rect->left) + L"," + std::to_wstring(rect->top) + L"," +
                std::to_wstring(rect->right) + L"," + std::to_wstring(rect->bottom) + L")");
    return windowRectResult;
  }
  HRESULT STDMETHODCALLTYPE SetMode(DWORD mode) override {
    journal.Add(L"preview.SetMode(" + std::to_wstring(mode) + L")");
    return modeResult;
  }
  HRESULT STDMETHODCALLTYPE SetVolume(DWORD level) override {
    journal.Add(L"preview.SetVolume(" + std::to_wstring(level) + L")");
    return volumeResult;
  }

private:
  CallLog& journal;
};

// The names the journal gives the deck commands.
inline std::wstring DeckCommandName(DWORD command) {
  switch (command) {
    case DECK_COMMAND_PLAY: return L"Play";
    case DECK_COMMAND_PAUSE: return L"Pause";
    case DECK_COMMAND_STOP: return L"Stop";
    case DECK_COMMAND_RECORD: return L"Record";
    case DECK_COMMAND_RECORD_PAUSE: return L"RecordPause";
    default: return std::to_wstring(command);
  }
}

// The driver's main object: smart control and deck control in one. Stream
// receive, tape scan, transmit and preview are objects of their own, so that
// the references the components hold do not count here.
//
// The journal holds, in the order they came, the deck commands ("deck.Stop")
// and record-mode changes ("deck.SetRecordMode(1)"), and every call of the
// transmit ("transmit.Start") and the preview ("preview.SetMode(2)"); tests
// may add what the host hears to it.
class FakeDriver final : public Owned<ISmartControl, IDeckControl>, public CrossThread {
public:
  // Set before the device uses the fake.
  bool deckAvailable = true;
  bool streamReceiveAvailable = true;
  bool tapeScanAvailable = true;
  bool transmitAvailable = true;
  bool previewAvailable = true;
  CallLog journal;
  FakeStreamReceive streamReceive;
  FakeTapeScan tapeScan;
  FakeStreamTransmit transmit{journal};
  FakePreview preview{journal};
  HRESULT adviseResult = S_OK;
  HRESULT timeCodeResult = S_OK;
  __MIDL___MIDL_itf_plgdefs_0000_0001 timeCode{1, 2, 3, 4, 0};

  // Codes answered by GetStatus, by kind; a kind not written leaves the
  // caller's preset.
  std::atomic<DWORD> statusCode[4] = {0, DECK_STATE_STOP, MEDIA_INFO_RECORDABLE, CAMCORDER_MODE_DECK};
  std::atomic<bool> writeStatus[4] = {true, true, true, true};
  std::atomic<int> statusCalls[4] = {0, 0, 0, 0};

  std::atomic<HWND> window{nullptr};
  std::atomic<int> unadviseCalls{0};
  std::atomic<long> refsAtUnadvise{-1};

  // Runs inside GetStatus, on whatever thread asks.
  std::function<void(DWORD kind)> onStatus;
  // Runs inside SendCommand, after the command is noted, on whatever thread sends.
  std::function<void(DWORD command)> onCommand;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Same(iid, IID_IUnknown) || Same(iid, IID_ISmartControl)) return Reach(iid, static_cast<ISmartControl*>(this), out);
    if (Same(iid, IID_IStreamReceive)) return Reach(iid, streamReceiveAvailable ? &streamReceive : nullptr, out);
    if (Same(iid, IID_ITapeScan)) return HandOut(out, tapeScanAvailable ? &tapeScan : nullptr);
    if (Same(iid, IID_IStreamTransmit)) return HandOut(out, transmitAvailable ? &transmit : nullptr);
    if (Same(iid, IID_IPreviewControl)) return HandOut(out, previewAvailable ? &preview : nullptr);
    if (Same(iid, IID_IMarshal)) return Marshaller(static_cast<ISmartControl*>(this), out);
    return Reach(iid, Same(iid, IID_IDeckControl) && deckAvailable ? static_cast<IDeckControl*>(this) : nullptr, out);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    if (HANDLE event = onRelease.load()) SetEvent(event);
    return Owned::Release();
  }

  // Signalled by every Release while set.
  std::atomic<HANDLE> onRelease{nullptr};

  HRESULT STDMETHODCALLTYPE AdviseWindow(HWND target, DWORD* cookie) override {
    if (FAILED(adviseResult)) return adviseResult;
    window.store(target);
    *cookie = kCookie;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UnadviseWindow(DWORD cookie) override {
    if (cookie == kCookie) {
      refsAtUnadvise.store(refs.load());
      window.store(nullptr);
    }
    ++unadviseCalls;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SendCommand(DWORD command) override {
    {
      std::lock_guard<std::mutex> guard(lock);
      commands.push_back(command);
    }
    journal.Add(L"deck." + DeckCommandName(command));
    if (onCommand) onCommand(command);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStatus(DWORD kind, DWORD* value) override {
    if (kind < 4) {
      ++statusCalls[kind];
      if (onStatus) onStatus(kind);
      if (writeStatus[kind]) *value = statusCode[kind];
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTimeCode(__MIDL___MIDL_itf_plgdefs_0000_0001* record) override {
    if (FAILED(timeCodeResult)) return timeCodeResult;
    *record = timeCode;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetRecordMode(BOOL record) override {
    recordMode = record;
    journal.Add(L"deck.SetRecordMode(" + std::to_wstring(record) + L")");
    return S_OK;
  }

  // Status reads of the deck state, media and mode together.
  int StatusCalls() const { return statusCalls[1] + statusCalls[2] + statusCalls[3]; }

  // Commands sent so far, and forgets them.
  std::vector<DWORD> TakeCommands() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<DWORD> taken;
    taken.swap(commands);
    return taken;
  }

  // Posts a driver event to the advised window, as the driver does; the
  // record lives as long as the fake and is never written again, since the
  // window's thread may still be reading it for an earlier post.
  bool Post(DWORD code, LPARAM argument = 0) {
    if (code >= kMaxCode || !window.load()) return false;
    return PostMessageW(window.load(), RegisterWindowMessageW(DRIVER_EVENT_MESSAGE_NAME),
                        reinterpret_cast<WPARAM>(&records[code]), argument) != 0;
  }

  std::atomic<BOOL> recordMode{FALSE};
  static constexpr DWORD kCookie = 0x51;

private:
  static constexpr DWORD kMaxCode = 64;
  std::mutex lock;
  std::vector<DWORD> commands;
  const std::array<DRIVER_EVENT_RECORD, kMaxCode> records = [] {
    std::array<DRIVER_EVENT_RECORD, kMaxCode> all{};
    for (DWORD code = 0; code < kMaxCode; ++code) all[code] = DRIVER_EVENT_RECORD{0, code};
    return all;
  }();
};

// One unit: moniker and properties.
class FakeUnit final : public Owned<IUnitMoniker, IUnitProperties> {
public:
  FakeUnit(const wchar_t* model, FakeDriver* driver) : model(model), driver(driver) {}

  std::wstring model;
  FakeDriver* driver;
  bool propertiesAvailable = true;
  HRESULT propertyResult = S_OK;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Same(iid, IID_IUnknown) || Same(iid, IID_IUnitMoniker)) return HandOut(out, static_cast<IUnitMoniker*>(this));
    return HandOut(out, Same(iid, IID_IUnitProperties) && propertiesAvailable ? static_cast<IUnitProperties*>(this)
                                                                               : nullptr);
  }

  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved6() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BindToObject(IUnknown*, IUnitMoniker*, REFIID iid, void** object) override {
    if (!driver) return E_FAIL;
    return driver->QueryInterface(iid, object);
  }

  HRESULT STDMETHODCALLTYPE GetStringProperty(const WCHAR* name, const WCHAR** value) override {
    if (FAILED(propertyResult)) return propertyResult;
    if (std::wstring(name) != L"UnitModelText") return E_INVALIDARG;
    *value = model.c_str();
    return S_OK;
  }
};

// The unit collection of one driver class, which is also the enumerator of
// its units: EnumUnits rewinds it and hands out itself.
class FakeUnitCollection final : public Owned<IUnitCollection, IEnumUnits> {
public:
  explicit FakeUnitCollection(std::vector<FakeUnit*> units) : units(std::move(units)) {}
  HRESULT enumResult = S_OK;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Same(iid, IID_IUnknown) || Same(iid, IID_IUnitCollection)) return HandOut(out, static_cast<IUnitCollection*>(this));
    return HandOut(out, Same(iid, IID_IEnumUnits) ? static_cast<IEnumUnits*>(this) : nullptr);
  }
  HRESULT STDMETHODCALLTYPE EnumUnits(IEnumUnits** out) override {
    if (FAILED(enumResult)) return enumResult;
    next = 0;
    return HandOut(reinterpret_cast<void**>(out), static_cast<IEnumUnits*>(this));
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG, IUnitMoniker** unit, ULONG* fetched) override {
    const bool more = next < units.size();
    if (more) HandOut(reinterpret_cast<void**>(unit), static_cast<IUnitMoniker*>(units[next++]));
    if (fetched) *fetched = more ? 1 : 0;
    return more ? S_OK : S_FALSE;
  }

private:
  std::vector<FakeUnit*> units;
  std::size_t next = 0;
};

// The driver's class enumerator.
class FakeClassEnumerator final : public Owned<IDriverClassEnumerator> {
public:
  std::vector<CLSID> classes;
  HRESULT result = S_OK;
  std::vector<GUID> askedTypes;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return HandOut(out, Same(iid, IID_IUnknown) || Same(iid, IID_IDriverClassEnumerator) ? this : nullptr);
  }
  HRESULT STDMETHODCALLTYPE GetDriverClasses(DWORD count, const GUID* types, DRIVER_CLASS_LIST* list) override {
    askedTypes.assign(types, types + count);
    if (FAILED(result)) return result;
    list->count = static_cast<DWORD>(classes.size());
    list->classes = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID) * (classes.empty() ? 1 : classes.size())));
    for (std::size_t i = 0; i < classes.size(); ++i) list->classes[i] = classes[i];
    return S_OK;
  }
};

// Registers, in the calling apartment while it lives, a class whose factory
// hands out one test-owned object.
class ClassRegistration final : public Owned<IClassFactory> {
public:
  ClassRegistration(REFCLSID clsid, IUnknown* object) : object(object) {
    registered = CoRegisterClassObject(clsid, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  }
  ~ClassRegistration() {
    if (SUCCEEDED(registered)) CoRevokeClassObject(cookie);
  }
  ClassRegistration(const ClassRegistration&) = delete;
  ClassRegistration& operator=(const ClassRegistration&) = delete;
  bool Ok() const { return SUCCEEDED(registered); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return HandOut(out, Same(iid, IID_IUnknown) || Same(iid, IID_IClassFactory) ? this : nullptr);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    return object->QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
  IUnknown* object;
  DWORD cookie = 0;
  HRESULT registered;
};

// Two driver classes of the tests' own, and one that is never registered.
constexpr CLSID kClassA = {0x7A11CE00, 0x1F01, 0x11D6, {0xA4, 0xE5, 0x00, 0xE0, 0x29, 0x21, 0xEA, 0x01}};
constexpr CLSID kClassB = {0x7A11CE00, 0x1F01, 0x11D6, {0xA4, 0xE5, 0x00, 0xE0, 0x29, 0x21, 0xEA, 0x02}};
constexpr CLSID kClassMissing = {0x7A11CE00, 0x1F01, 0x11D6, {0xA4, 0xE5, 0x00, 0xE0, 0x29, 0x21, 0xEA, 0x03}};

// The enumerator and a unit collection for each of kClassA and kClassB,
// registered in the calling apartment while it lives. The enumerator lists
// kClassA unless told otherwise.
class RegisteredClasses {
public:
  RegisteredClasses() { enumerator.classes = {kClassA}; }
  bool Register(std::vector<FakeUnit*> unitsA, std::vector<FakeUnit*> unitsB = {}) {
    for (auto& r : registrations) r.reset();
    collectionA = std::make_unique<FakeUnitCollection>(std::move(unitsA));
    collectionB = std::make_unique<FakeUnitCollection>(std::move(unitsB));
    registrations[0] = std::make_unique<ClassRegistration>(CLSID_DriverClassEnumerator,
                                                           static_cast<IDriverClassEnumerator*>(&enumerator));
    registrations[1] = std::make_unique<ClassRegistration>(kClassA, static_cast<IUnitCollection*>(collectionA.get()));
    registrations[2] = std::make_unique<ClassRegistration>(kClassB, static_cast<IUnitCollection*>(collectionB.get()));
    return registrations[0]->Ok() && registrations[1]->Ok() && registrations[2]->Ok();
  }

  FakeClassEnumerator enumerator;
  std::unique_ptr<FakeUnitCollection> collectionA, collectionB;

private:
  std::unique_ptr<ClassRegistration> registrations[3];  // revoked before the collections go
};

}  // namespace devtest
