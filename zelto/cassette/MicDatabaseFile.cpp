#include "zelto/cassette/MicDatabaseFile.h"

#include <memory>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "host/foundation/OxFile.h"
#include "host/foundation/OxTemporaryNameCreator.h"
#include "host/foundation/OxUnique.h"
#include "platform/win32.h"

using namespace Orvex;

namespace zelto::cassette {

void MicDataBaseFileFullPath(OxString& out) {
  out.Erase();
  out = OxUnique::GetInstance().GetMicDataBaseFolder().GetPath();
  out.Append(L"\\");
  out.Append(L"micdb.mdb");
}

void CompactMicDataBase() {
  OxString dbPath;
  MicDataBaseFileFullPath(dbPath);

  OxString tempPath;
  if (!OxTemporaryNameCreator::CreateTempFileName(OxUnique::GetInstance().GetTempFolder().GetPath(), OxString(L"micdb"),
                                                  OxString(L"tmp"), tempPath))
    return;
  if (!CompactDatabase(&dbPath, &tempPath, nullptr, nullptr)) return;

  // Delete and copy rather than rename: the temporary folder may lie on
  // another volume. The temporary file goes with the OxFile.
  OxFile compacted(tempPath);
  compacted.SetFileRemovedAfterDestroy(true);
  DeleteFileW(dbPath.GetString());
  std::unique_ptr<OxFile> copy(compacted.CopyTo(dbPath));
}

}  // namespace zelto::cassette
