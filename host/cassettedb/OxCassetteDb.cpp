// The library's free functions: the manager factory, database creation and
// compaction.
#include "host/cassettedb/IMicDatabaseManager.h"
#include "host/cassettedb/MicDatabaseManager.h"
#include "platform/PlatformExtras.h"

namespace Orvex {

IMicDatabaseManager* CreateMicDatabaseManager() {
  try {
    return new MicDatabaseManager();
  } catch (...) {
    return nullptr;
  }
}

bool CreateMicDatabase(const OxString& path) {
  if (path.IsEmpty()) return false;
  try {
    return micdb::MicStore::CreateFile(zelto::platform::NativePath(path.GetStdString()));
  } catch (...) {
    return false;
  }
}

bool CompactDatabase(const OxString* source, const OxString* destination, const OxString* /*reserved1*/,
                     const OxString* /*reserved2*/) {
  if (source == nullptr || destination == nullptr || source->IsEmpty() || destination->IsEmpty()) return false;
  try {
    return micdb::MicStore::Compact(zelto::platform::NativePath(source->GetStdString()),
                                    zelto::platform::NativePath(destination->GetStdString()));
  } catch (...) {
    return false;
  }
}

}  // namespace Orvex
