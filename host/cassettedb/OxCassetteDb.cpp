// The library's free functions: the manager factory, database creation and
// compaction.
#include <filesystem>
#include <memory>
#include <system_error>

#include "host/cassettedb/DatabaseUseLock.h"
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
    return micdb::MicStore::CreateDatabase(zelto::platform::NativePath(path.GetStdString()));
  } catch (...) {
    return false;
  }
}

bool CompactDatabase(const OxString* source, const OxString* destination, const OxString* /*reserved1*/,
                     const OxString* /*reserved2*/) {
  if (source == nullptr || destination == nullptr || source->IsEmpty() || destination->IsEmpty()) return false;
  try {
    const std::filesystem::path from = zelto::platform::NativePath(source->GetStdString());
    const std::filesystem::path to = zelto::platform::NativePath(destination->GetStdString());
    // The compacted copy is to replace the file: not while anyone else has
    // it open, and nobody opens it until the copy has taken its place.
    auto alone = std::make_unique<micdb::DatabaseUseLock>(from, micdb::DatabaseUseLock::Mode::Exclusive);
    if (!alone->held()) {
      // Declined, as happens whenever several programs share the file: the
      // empty placeholder a temporary-name creator made for the copy would
      // otherwise be left behind each time.
      std::error_code ec;
      if (std::filesystem::is_regular_file(to, ec) && std::filesystem::file_size(to, ec) == 0 && !ec)
        std::filesystem::remove(to, ec);
      return false;
    }
    if (!micdb::MicStore::Compact(from, to)) return false;
    // Whoever opens the file next finishes a replacement cut short by a kill.
    micdb::MicStore::NoteReplacement(from, to);
    micdb::DatabaseUseLock::HoldUntilGone(std::move(alone), to);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace Orvex
