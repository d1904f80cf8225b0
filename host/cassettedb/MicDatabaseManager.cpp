#include "host/cassettedb/MicDatabaseManager.h"

#include <limits>
#include <memory>
#include <optional>
#include <span>

#include "host/cassettedb/ICassetteMemory.h"
#include "platform/PlatformExtras.h"

namespace Orvex {

namespace {

// Record ids are 32-bit; a long (64-bit on some platforms) outside that
// range names no record.
std::optional<std::int32_t> recordId(long id) {
  if (id < std::numeric_limits<std::int32_t>::min() || id > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(id);
}

_OxMicDbRecInfo toRecInfo(const micdb::StoredRecord& r) {
  _OxMicDbRecInfo info;
  info.id = r.id;
  info.recordedAt = r.recordedAt;
  info.startTimeCode = r.startTimeCode;
  info.endTimeCode = r.endTimeCode;
  info.duration = r.duration;
  info.hasFirstPicture = r.hasFirstPicture;
  info.hasSecondPicture = r.hasSecondPicture;
  info.flag = r.flag;
  info.text = OxString(std::wstring_view(r.text));
  return info;
}

std::span<const std::uint8_t> bytesOf(const OxBitmap& picture) {
  return {picture.GetBitmap(), picture.GetBitmapSize()};
}

template <std::size_t N>
std::wstring textOf(const WCHAR (&text)[N]) {
  std::size_t n = 0;
  while (n < N && text[n] != 0) ++n;
  return std::wstring(text, text + n);
}

// The driver's cassette-memory interface, or null. Every driver interface
// begins with IUnknown's table, so the smart control (declared only by the
// device library) is queried as what it is underneath.
ICassetteMemory* queryMemory(ISmartControl* control) {
  if (control == nullptr) return nullptr;
  void* memory = nullptr;
  if (FAILED(reinterpret_cast<IUnknown*>(control)->QueryInterface(IID_ICassetteMemory, &memory))) return nullptr;
  return static_cast<ICassetteMemory*>(memory);
}

struct MemoryReleaser {
  void operator()(ICassetteMemory* memory) const { memory->Release(); }
};
using MemoryPtr = std::unique_ptr<ICassetteMemory, MemoryReleaser>;

// What a write-protected memory answers to a write.
constexpr HRESULT kWriteProtected = static_cast<HRESULT>(0x80070013L);

}  // namespace

MicDatabaseManager::~MicDatabaseManager() = default;

template <typename Op>
MicDatabaseManager::Outcome MicDatabaseManager::run(Op&& op) {
  try {
    std::lock_guard guard(lock);
    if (!store.isOpen()) return Outcome::NotApplicable;
    return op(store) ? Outcome::Done : Outcome::NotApplicable;
  } catch (...) {
    // SqliteError from the file, bad_alloc, anything else: the call fails,
    // the transaction has rolled back, the manager stays usable.
    return Outcome::Failed;
  }
}

template <typename Op>
bool MicDatabaseManager::read(Op&& op) {
  const Outcome outcome = run(std::forward<Op>(op));
  if (outcome == Outcome::Failed) raise(OX_MIC_READING_ERROR);
  return outcome == Outcome::Done;
}

template <typename Op>
bool MicDatabaseManager::write(Op&& op) {
  const Outcome outcome = run(std::forward<Op>(op));
  if (outcome == Outcome::Done) raise(OX_MIC_DATA_CHANGED);
  if (outcome == Outcome::Failed) raise(OX_MIC_READING_ERROR);
  return outcome == Outcome::Done;
}

void MicDatabaseManager::raise(_OxReadingMicEventID id) {
  try {
    events.NotifyEvent(OxReadingMicEvent(id));
  } catch (...) {
    // A listener's failure must not undo or misreport the operation that
    // already happened.
  }
}

void MicDatabaseManager::Destroy() { delete this; }

bool MicDatabaseManager::Open(const OxString& path, int mode) {
  raise(OX_MIC_READING_START);
  bool opened = false;
  try {
    std::lock_guard memoryGuard(memoryLock);
    std::lock_guard guard(lock);
    // Whatever was open goes, even when the new file then fails to open;
    // the cassette memory is read into the new one when it is next asked.
    memorySeen.reset();
    store.close();
    if (!path.IsEmpty() && (mode == OX_MIC_DB_OPEN_READWRITE || mode == OX_MIC_DB_OPEN_READONLY)) {
      store.open(zelto::platform::NativePath(path.GetStdString()), mode == OX_MIC_DB_OPEN_READONLY);
      opened = true;
    }
  } catch (...) {
    opened = false;
  }
  raise(opened ? OX_MIC_READING_COMPLETE : OX_MIC_READING_ERROR);
  return opened;
}

bool MicDatabaseManager::SelectCassette(const OxString& identity, bool create) {
  raise(OX_MIC_READING_START);
  const Outcome outcome =
      run([&](micdb::MicStore& s) { return s.selectCassette(identity.GetStdString(), create); });
  raise(outcome == Outcome::Done ? OX_MIC_READING_COMPLETE : OX_MIC_READING_ERROR);
  return outcome == Outcome::Done;
}

bool MicDatabaseManager::GetCassetteIdentity(OxString& identity) {
  syncWithCassette(false);
  return read([&](micdb::MicStore& s) {
    const auto value = s.currentIdentity();
    if (value) identity = OxString(std::wstring_view(*value));
    return value.has_value();
  });
}

bool MicDatabaseManager::IsCleaningTape() {
  syncWithCassette(false);
  bool cleaning = false;
  read([&](micdb::MicStore& s) {
    cleaning = s.isCleaning().value_or(false);
    return true;
  });
  return cleaning;
}

bool MicDatabaseManager::SetCleaningTape(bool cleaning) {
  return write([&](micdb::MicStore& s) { return s.setCleaning(cleaning); });
}

bool MicDatabaseManager::SetTapeTitle(const OxString& title) {
  return write([&](micdb::MicStore& s) { return s.setTitle(title.GetStdString()); });
}

bool MicDatabaseManager::RemoveCassette(const OxString& identity) {
  return write([&](micdb::MicStore& s) { return s.removeCassette(identity.GetStdString()); });
}

bool MicDatabaseManager::GetTapeTitle(OxString& title) {
  syncWithCassette(false);
  return read([&](micdb::MicStore& s) {
    const auto value = s.title();
    if (value) title = OxString(std::wstring_view(*value));
    return value.has_value();
  });
}

bool MicDatabaseManager::SetTapeText(OxString& text) {
  syncWithCassette(false);
  {
    // The cassette in the camcorder takes the text first, when it is the
    // one the database calls current: the database follows its memory
    // whenever it reads it again, so a text the memory refused would be
    // gone by then. Only a write-protected memory leaves the text to the
    // database alone. A memory that could not be read last time leaves
    // unknown which cassette the text is meant for: nothing is written.
    std::lock_guard memoryGuard(memoryLock);
    if (memoryOffered && !memorySeen) return false;
    std::optional<std::wstring> current;
    ISmartControl* control = nullptr;
    run([&](micdb::MicStore& s) {
      current = s.currentIdentity();
      control = smartControl;
      return true;
    });
    if (current && memoryOffered) {
      const MemoryPtr memory{queryMemory(control)};
      CASSETTE_MEMORY_HEADER header{};
      const HRESULT got = memory ? memory->GetHeader(&header) : E_NOINTERFACE;
      if (FAILED(got)) return false;
      if (got == S_OK && textOf(header.identity) == *current) {
        const HRESULT hr = memory->SetText(text.GetStdString().c_str());
        if (FAILED(hr) && hr != kWriteProtected) return false;
        if (SUCCEEDED(hr) && memorySeen && memorySeen->present && memorySeen->sequence == header.sequence) {
          // The memory now says what the database will say: no need to read it again.
          CASSETTE_MEMORY_HEADER after{};
          if (memory->GetHeader(&after) == S_OK) memorySeen->sequence = after.sequence;
        }
      }
    }
  }
  return write([&](micdb::MicStore& s) { return s.setText(text.GetStdString()); });
}

bool MicDatabaseManager::GetTapeText(OxString& text) {
  syncWithCassette(false);
  return read([&](micdb::MicStore& s) {
    const auto value = s.text();
    if (value) text = OxString(std::wstring_view(*value));
    return value.has_value();
  });
}

long MicDatabaseManager::GetRecInfoCount() {
  syncWithCassette(false);
  long count = 0;
  read([&](micdb::MicStore& s) {
    const auto value = s.recordCount();
    if (value) count = static_cast<long>(*value);
    return value.has_value();
  });
  return count;
}

bool MicDatabaseManager::GetRecInfoList(std::vector<_OxMicDbRecInfo>& list) {
  syncWithCassette(false);
  return read([&](micdb::MicStore& s) {
    const auto records = s.records();
    if (!records) return false;
    std::vector<_OxMicDbRecInfo> out;
    out.reserve(records->size());
    for (const auto& r : *records) out.push_back(toRecInfo(r));
    list.swap(out);
    return true;
  });
}

bool MicDatabaseManager::setPicture(long id, micdb::Picture which, const OxBitmap& picture, bool replace) {
  const auto key = recordId(id);
  if (!key) return false;
  return write([&](micdb::MicStore& s) { return s.setPicture(*key, which, bytesOf(picture), replace); });
}

bool MicDatabaseManager::getPicture(long id, micdb::Picture which, OxBitmap& picture) {
  const auto key = recordId(id);
  if (!key) return false;
  return read([&](micdb::MicStore& s) {
    const auto bytes = s.picture(*key, which);
    if (!bytes) return false;
    OxBitmap out;
    if (!out.SetBitmap(bytes->data(), static_cast<std::uint32_t>(bytes->size()))) return false;
    picture = std::move(out);
    return true;
  });
}

bool MicDatabaseManager::SetRecInfoPicture(long id, OxBitmap& picture, bool replace) {
  return setPicture(id, micdb::Picture::First, picture, replace);
}

bool MicDatabaseManager::SetRecInfoSecondPicture(long id, OxBitmap& picture, bool replace) {
  return setPicture(id, micdb::Picture::Second, picture, replace);
}

bool MicDatabaseManager::GetRecInfoPicture(long id, OxBitmap& picture) {
  return getPicture(id, micdb::Picture::First, picture);
}

bool MicDatabaseManager::GetRecInfoSecondPicture(long id, OxBitmap& picture) {
  return getPicture(id, micdb::Picture::Second, picture);
}

bool MicDatabaseManager::AddRecInfo(_OxMicDbRecInfo& info) {
  return write([&](micdb::MicStore& s) {
    micdb::StoredRecord fields;
    fields.recordedAt = info.recordedAt;
    fields.startTimeCode = info.startTimeCode;
    fields.endTimeCode = info.endTimeCode;
    fields.duration = info.duration;
    fields.flag = info.flag;
    fields.text = info.text.GetStdString();
    const auto id = s.addRecord(fields);
    if (id) info.id = *id;
    return id.has_value();
  });
}

bool MicDatabaseManager::RemoveRecInfo(long id) {
  const auto key = recordId(id);
  if (!key) return false;
  return write([&](micdb::MicStore& s) { return s.removeRecord(*key); });
}

bool MicDatabaseManager::SetRecInfoText(long id, const OxString& text) {
  const auto key = recordId(id);
  if (!key) return false;
  return write([&](micdb::MicStore& s) { return s.setRecordText(*key, text.GetStdString()); });
}

bool MicDatabaseManager::GetRecInfo(long id, _OxMicDbRecInfo& info) {
  const auto key = recordId(id);
  if (!key) return false;
  return read([&](micdb::MicStore& s) {
    const auto r = s.record(*key);
    if (r) info = toRecInfo(*r);
    return r.has_value();
  });
}

bool MicDatabaseManager::GetCassetteList(std::vector<OxString>& identities) {
  return read([&](micdb::MicStore& s) {
    std::vector<OxString> out;
    for (const auto& identity : s.cassetteIdentities()) out.emplace_back(std::wstring_view(identity));
    identities.swap(out);
    return true;
  });
}

bool MicDatabaseManager::RemoveAllRecInfo() {
  return write([&](micdb::MicStore& s) { return s.removeAllRecords(); });
}

bool MicDatabaseManager::UpdateRecInfo(long key, bool flag) {
  const auto id = recordId(key);
  if (!id) return false;
  return write([&](micdb::MicStore& s) { return s.setRecordFlag(*id, flag); });
}

void MicDatabaseManager::SetSmartControl(ISmartControl* control) {
  {
    std::lock_guard memoryGuard(memoryLock);
    std::lock_guard guard(lock);
    smartControl = control;
    memorySeen.reset();
    memoryOffered = false;
  }
  syncWithCassette(true);
}

void MicDatabaseManager::syncWithCassette(bool force) {
  // A memory that changes while it is read is read again, a few times.
  constexpr int kTries = 3;
  enum class Read { Nothing, Done, Failed } outcome = Read::Nothing;
  {
    std::lock_guard memoryGuard(memoryLock);
    ISmartControl* control = nullptr;
    {
      std::lock_guard guard(lock);
      // A file opened to be read only cannot take what the memory holds.
      if (!store.isOpen() || store.isReadOnly()) return;
      control = smartControl;
    }
    const MemoryPtr memory(queryMemory(control));
    if (memory) {
      memoryOffered = true;
    } else if (!memoryOffered) {
      return;  // a driver that cannot tell: the database stays as it is
    } else {
      outcome = Read::Failed;
    }
    for (int attempt = 0; attempt < kTries && outcome == Read::Nothing; ++attempt) {
      CASSETTE_MEMORY_HEADER header{};
      const HRESULT hr = memory->GetHeader(&header);
      if (FAILED(hr)) {
        outcome = Read::Failed;
        break;
      }
      const bool present = hr == S_OK;
      if (!force && memorySeen && memorySeen->present == present &&
          (!present || memorySeen->sequence == header.sequence))
        return;  // unchanged since the last read
      micdb::MemoryContents contents;
      bool changed = false;
      if (present) {
        contents.identity = textOf(header.identity);
        contents.title = textOf(header.title);
        contents.text = textOf(header.text);
        contents.cleaning = header.cleaning != FALSE;
        for (DWORD i = 0; i < header.recordCount && !changed; ++i) {
          CASSETTE_MEMORY_RECORD record{};
          const HRESULT got = memory->GetRecord(header.sequence, i, &record);
          changed = got == CASSETTE_MEMORY_E_CHANGED;
          if (FAILED(got) && !changed) {
            outcome = Read::Failed;
            break;
          }
          micdb::MemoryContents::Record r;
          r.key = record.key <= static_cast<DWORD>(std::numeric_limits<std::int32_t>::max())
                      ? static_cast<std::int32_t>(record.key)
                      : 0;
          r.fields.recordedAt = record.recordedAt;
          r.fields.startTimeCode = record.startTimeCode;
          r.fields.endTimeCode = record.endTimeCode;
          r.fields.duration = record.durationMs;
          r.fields.text = textOf(record.text);
          contents.records.push_back(std::move(r));
        }
        if (outcome == Read::Failed) break;
        if (changed) continue;
        if (contents.identity.empty()) {
          outcome = Read::Failed;
          break;
        }
      }
      std::vector<std::int32_t> ids;
      try {
        std::lock_guard guard(lock);
        if (!store.isOpen()) return;
        if (present) {
          ids = store.loadCassette(contents);
        } else {
          store.clearCurrent();
        }
      } catch (...) {
        outcome = Read::Failed;
        break;
      }
      // The ids go back to the memory as the records' keys, which the
      // driver then hands back (the tape scan's thumbnails).
      for (std::size_t i = 0; i < ids.size() && !changed; ++i) {
        if (contents.records[i].key == ids[i]) continue;
        changed = memory->SetRecordKey(header.sequence, static_cast<DWORD>(i), static_cast<DWORD>(ids[i])) ==
                  CASSETTE_MEMORY_E_CHANGED;
      }
      if (changed) continue;
      memorySeen = MemorySeen{present, header.sequence};
      outcome = Read::Done;
    }
    if (outcome != Read::Done) memorySeen.reset();  // read again next time
  }
  raise(OX_MIC_READING_START);
  raise(outcome == Read::Done ? OX_MIC_READING_COMPLETE : OX_MIC_READING_ERROR);
}

bool MicDatabaseManager::Close() {
  std::lock_guard memoryGuard(memoryLock);
  std::lock_guard guard(lock);
  memorySeen.reset();
  const bool wasOpen = store.isOpen();
  store.close();
  return wasOpen;
}

void MicDatabaseManager::AddEventListener(KelSafeEventListener<OxReadingMicEvent>* listener) {
  if (listener != nullptr) events.AddEventListener(listener);
}

void MicDatabaseManager::RemoveEventListener(KelSafeEventListener<OxReadingMicEvent>* listener) {
  // Waits for passes on other threads, so the caller may destroy the
  // listener on return; never called with the store lock held.
  events.RemoveEventListenerAndWait(listener);
}

}  // namespace Orvex
