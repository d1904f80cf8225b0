// Folder removal that tolerates a tree changing under it.
#include <chrono>
#include <thread>
#include <vector>

#include "platform/PlatformExtras.h"

namespace zelto::platform {

namespace {

namespace fs = std::filesystem;

bool IsGone(const std::error_code& error) {
  return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
}

// One attempt at the whole tree. A child that cannot go does not stop the
// others; its folder is then left, and the first such error is reported.
std::uintmax_t RemoveOnce(const fs::path& path, std::error_code& error) {
  std::error_code ours;
  const fs::file_status status = fs::symlink_status(path, ours);
  if (ours || status.type() == fs::file_type::not_found) {
    if (!IsGone(ours) && !error) error = ours;
    return 0;
  }
  std::uintmax_t removed = 0;
  if (status.type() == fs::file_type::directory) {
    // The listing is taken whole, and its handle closed, before anything in
    // it is removed: a folder listed while it changes may name an entry
    // twice, or one already gone.
    std::vector<fs::path> children;
    for (fs::directory_iterator it(path, ours), end; !ours && it != end; it.increment(ours))
      children.push_back(it->path());
    if (ours) {
      if (!IsGone(ours) && !error) error = ours;
      return 0;
    }
    bool allGone = true;
    for (const fs::path& child : children) {
      std::error_code childError;
      removed += RemoveOnce(child, childError);
      if (childError) {
        allGone = false;
        if (!error) error = childError;
      }
    }
    if (!allGone) return removed;
  }
  if (fs::remove(path, ours)) return removed + 1;
  if (ours && !IsGone(ours) && !error) error = ours;
  return removed;
}

// Windows keeps a deleted file's name until its last handle closes (an
// indexer's or a virus scanner's, or a thread of ours that is finishing), so
// its folder stays "not empty" for a moment: a few passes, pausing longer
// each time, before the error is reported.
constexpr int kPasses = 6;
constexpr auto kFirstPause = std::chrono::milliseconds(20);

}  // namespace

std::uintmax_t RemoveTree(const fs::path& root, std::error_code& error) {
  std::uintmax_t removed = 0;
  auto pause = kFirstPause;
  for (int pass = 0; pass < kPasses; ++pass) {
    if (pass > 0) {
      std::this_thread::sleep_for(pause);
      pause *= 2;
    }
    error.clear();
    removed += RemoveOnce(root, error);
    if (!error) break;
  }
  return removed;
}

}  // namespace zelto::platform
