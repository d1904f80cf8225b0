// Feeds bytes as the cassette-memory database file (micdb.mdb) to the host's
// database manager (IMicDatabaseManager): opened as the library opens it,
// every cassette and record read whole, a text and a flag written back as
// the library writes them, then compacted as the library does at its end.
// Whatever the file holds, the manager answers or refuses; it never
// crashes, and the compaction leaves the file as it was.
#include <fstream>
#include <iterator>

#include "fuzz/FuzzSupport.h"
#include "host/cassettedb/IMicDatabaseManager.h"
#include "platform/PlatformExtras.h"

using namespace Orvex;

namespace {

std::string Bytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

OxString Wide(const std::filesystem::path& file) { return OxString(zelto::platform::WidePath(file).c_str()); }

void ReadWhole(IMicDatabaseManager& manager) {
  std::vector<OxString> identities;
  manager.GetCassetteList(identities);
  for (const OxString& identity : identities) {
    if (!manager.SelectCassette(identity, false)) continue;
    OxString text;
    manager.GetCassetteIdentity(text);
    manager.GetTapeTitle(text);
    manager.GetTapeText(text);
    manager.IsCleaningTape();
    manager.GetRecInfoCount();
    std::vector<_OxMicDbRecInfo> records;
    manager.GetRecInfoList(records);
    for (const _OxMicDbRecInfo& record : records) {
      _OxMicDbRecInfo again;
      manager.GetRecInfo(record.id, again);
      OxBitmap picture;
      manager.GetRecInfoPicture(record.id, picture);
      manager.GetRecInfoSecondPicture(record.id, picture);
    }
    // What the library writes: the tape text, a captured scene's flag.
    OxString tapeText(L"fuzz");
    manager.SetTapeText(tapeText);
    if (!records.empty()) manager.UpdateRecInfo(records.front().id, true);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path file = fuzz::Folder() / "micdb.mdb";
  const std::filesystem::path compacted = fuzz::Folder() / "compacted.mdb";
  std::error_code ignored;
  std::filesystem::remove(compacted, ignored);
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  IMicDatabaseManager* manager = CreateMicDatabaseManager();
  FUZZ_CHECK(manager, "no manager");
  for (const int mode : {OX_MIC_DB_OPEN_READONLY, OX_MIC_DB_OPEN_READWRITE}) {
    if (!manager->Open(Wide(file), mode)) continue;
    ReadWhole(*manager);
    manager->Close();
  }
  manager->Destroy();

  const std::string before = Bytes(file);
  const OxString source = Wide(file), destination = Wide(compacted);
  CompactDatabase(&source, &destination, nullptr, nullptr);
  FUZZ_CHECK(Bytes(file) == before, "the compaction changed its source");
  return 0;
}
