// The manager behind CreateMicDatabaseManager: the interface's operations on
// a MicStore, one lock around the connection, events raised after the lock
// is released.
#pragma once

#include <mutex>
#include <optional>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "host/cassettedb/MicStore.h"
#include "host/kel/KelSafeEventSource.h"

namespace Orvex {

class MicDatabaseManager final : public IMicDatabaseManager {
 public:
  MicDatabaseManager() = default;
  ~MicDatabaseManager();
  MicDatabaseManager(const MicDatabaseManager&) = delete;
  MicDatabaseManager& operator=(const MicDatabaseManager&) = delete;

  long GetVersion() const override { return kMicDatabaseManagerVersion; }
  void Destroy() override;
  bool Open(const OxString& path, int mode) override;
  bool SelectCassette(const OxString& identity, bool create) override;
  bool GetCassetteIdentity(OxString& identity) override;
  bool IsCleaningTape() override;
  bool SetCleaningTape(bool cleaning) override;
  bool SetTapeTitle(const OxString& title) override;
  bool RemoveCassette(const OxString& identity) override;
  bool GetTapeTitle(OxString& title) override;
  bool SetTapeText(OxString& text) override;
  bool GetTapeText(OxString& text) override;
  long GetRecInfoCount() override;
  bool GetRecInfoList(std::vector<_OxMicDbRecInfo>& list) override;
  bool SetRecInfoPicture(long id, OxBitmap& picture, bool replace) override;
  bool AddRecInfo(_OxMicDbRecInfo& info) override;
  bool RemoveRecInfo(long id) override;
  bool GetRecInfoPicture(long id, OxBitmap& picture) override;
  bool SetRecInfoText(long id, const OxString& text) override;
  bool SetRecInfoSecondPicture(long id, OxBitmap& picture, bool replace) override;
  bool GetRecInfo(long id, _OxMicDbRecInfo& info) override;
  bool GetCassetteList(std::vector<OxString>& identities) override;
  bool GetRecInfoSecondPicture(long id, OxBitmap& picture) override;
  bool RemoveAllRecInfo() override;
  bool UpdateRecInfo(long key, bool flag) override;
  void SetSmartControl(ISmartControl* smartControl) override;
  bool Close() override;
  void AddEventListener(KelSafeEventListener<OxReadingMicEvent>* listener) override;
  void RemoveEventListener(KelSafeEventListener<OxReadingMicEvent>* listener) override;

 private:
  enum class Outcome { Done, NotApplicable, Failed };

  // Runs op on the open store under the lock; a SqliteError or any other
  // exception becomes Failed, a false result (or no database) NotApplicable.
  template <typename Op>
  Outcome run(Op&& op);
  template <typename Op>
  bool read(Op&& op);
  template <typename Op>
  bool write(Op&& op);
  // Reads the cassette memory through the driver into the database when it
  // changed since the last read (always when forced); see
  // IMicDatabaseManager::SetSmartControl.
  void syncWithCassette(bool force);
  bool setPicture(long id, micdb::Picture which, const OxBitmap& picture, bool replace);
  bool getPicture(long id, micdb::Picture which, OxBitmap& picture);
  void raise(_OxReadingMicEventID id);

  std::mutex lock;
  micdb::MicStore store;
  ISmartControl* smartControl = nullptr;
  // Held through a whole read of the cassette memory, never while events
  // are raised; taken before `lock`.
  std::mutex memoryLock;
  // What the last read found: the memory's sequence, or that there was no
  // memory to read; none before the first read.
  struct MemorySeen {
    bool present = false;
    unsigned long sequence = 0;
  };
  std::optional<MemorySeen> memorySeen;
  // The driver given has answered for its memory once: from then on a
  // memory it no longer answers for is one that could not be read.
  bool memoryOffered = false;
  KelSafeEventSource<OxReadingMicEvent> events;
};

}  // namespace Orvex
