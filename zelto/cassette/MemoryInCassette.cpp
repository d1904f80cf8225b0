#include "zelto/cassette/MemoryInCassette.h"

using namespace Orvex;

MemoryInCassette::~MemoryInCassette() = default;

void MemoryInCassette::OnEvent(const OxReadingMicEvent&) {}

void MemoryInCassette::SetMicDatabaseManager(IMicDatabaseManager* manager) { databaseManager = manager; }

bool MemoryInCassette::IsCleaningTape() const { return databaseManager && databaseManager->IsCleaningTape(); }

void MemoryInCassette::GetTapeTitle(OxString& title) {
  if (databaseManager) databaseManager->GetTapeTitle(title);
}

bool MemoryInCassette::SetTapeText(OxString& text) { return databaseManager && databaseManager->SetTapeText(text); }

bool MemoryInCassette::GetTapeText(OxString& text) { return databaseManager && databaseManager->GetTapeText(text); }

long MemoryInCassette::GetMICRecInfoCount() { return databaseManager ? databaseManager->GetRecInfoCount() : 0; }

void MemoryInCassette::GetMICRecInfo(std::vector<_OxMICRecInfo>& out) {
  if (!databaseManager) return;
  std::vector<_OxMicDbRecInfo> records;
  databaseManager->GetRecInfoList(records);
  out.resize(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    const _OxMicDbRecInfo& record = records[i];
    _OxMICRecInfo& info = out[i];
    info.id = record.id;
    info.recordedAt = record.recordedAt;
    info.startTimeCode = record.startTimeCode;
    info.endTimeCode = record.endTimeCode;
    info.duration = record.duration;
    if (record.hasFirstPicture)
      databaseManager->GetRecInfoPicture(record.id, info.firstPicture);
    else
      info.firstPicture.SetBitmapSize(0);
    if (record.hasSecondPicture)
      databaseManager->GetRecInfoSecondPicture(record.id, info.secondPicture);
    else
      info.secondPicture.SetBitmapSize(0);
    info.flag = record.flag;
    info.text = record.text;
  }
}

bool MemoryInCassette::SetRecInfoPicture(long id, OxBitmap& picture, bool replace) {
  return databaseManager && databaseManager->SetRecInfoPicture(id, picture, replace);
}

bool MemoryInCassette::SetRecInfoSecondPicture(long id, OxBitmap& picture, bool replace) {
  return databaseManager && databaseManager->SetRecInfoSecondPicture(id, picture, replace);
}

bool MemoryInCassette::UpdateRecInfo(long key, bool flag) {
  return databaseManager && databaseManager->UpdateRecInfo(key, flag);
}
