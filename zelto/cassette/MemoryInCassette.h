// The device's null-safe front for the host's cassette-memory database
// manager. It keeps no state besides the manager pointer, which the device
// owns: every call asks the manager afresh.
#pragma once

#include <vector>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "host/devevents/OxReadingMicEvent.h"
#include "host/foundation/OxDeviceTypes.h"
#include "host/kel/KelSafeEventListener.h"

class MemoryInCassette : public KelSafeEventListener<Orvex::OxReadingMicEvent> {
public:
  MemoryInCassette() = default;
  ~MemoryInCassette() override;
  MemoryInCassette(const MemoryInCassette&) = delete;
  MemoryInCassette& operator=(const MemoryInCassette&) = delete;

  // The manager's reading progress needs no action here; the host listens
  // to the manager itself.
  void OnEvent(const Orvex::OxReadingMicEvent& event) override;

  void SetMicDatabaseManager(Orvex::IMicDatabaseManager* manager);

  bool IsCleaningTape() const;
  void GetTapeTitle(Orvex::OxString& title);
  bool SetTapeText(Orvex::OxString& text);
  bool GetTapeText(Orvex::OxString& text);
  long GetMICRecInfoCount();
  // Resizes out to the manager's records and overwrites every element.
  void GetMICRecInfo(std::vector<Orvex::_OxMICRecInfo>& out);
  bool SetRecInfoPicture(long id, Orvex::OxBitmap& picture, bool replace);
  bool SetRecInfoSecondPicture(long id, Orvex::OxBitmap& picture, bool replace);
  bool UpdateRecInfo(long key, bool flag);

private:
  Orvex::IMicDatabaseManager* databaseManager = nullptr;
};
