#include "zelto/capture/CaptureTarget.h"

#include <cmath>

#include "host/foundation/OxFolder.h"
#include "host/foundation/OxUnique.h"

using namespace Orvex;

namespace zelto::capture {

namespace {

constexpr ULONGLONG kFatLimit = 4200000000ull;
constexpr std::uint32_t kMebibyte = 1048576u;
// 1,590,000 bytes a second of tape, in MiB.
constexpr double kMebibytesPerSecond = 1.5163421630859375;
constexpr DWORD kOptions = 0x0F;
constexpr DWORD kOptionsWithLimit = 0x1F;

}  // namespace

std::optional<ULONGLONG> FileSizeLimit(const OxString& folderPath, std::int32_t splitKind,
                                       std::uint64_t splitSizeMegabytes, std::uint32_t splitDurationFrames) {
  switch (splitKind) {
    case 0:
      if (OxFolder(folderPath).IsNTFSFileSystem()) return std::nullopt;
      return kFatLimit;
    case 1:
      return static_cast<ULONGLONG>(splitSizeMegabytes * kMebibyte);
    case 2: {
      const std::uint32_t fps = OxUnique::GetInstance().GetAppVideoSystem() != 0 ? 25u : 30u;
      const std::uint32_t seconds = splitDurationFrames / fps + 1u;
      const auto megabytes = static_cast<std::uint32_t>(std::floor(seconds * kMebibytesPerSecond)) - 1u;
      const std::uint32_t bytes = megabytes * kMebibyte;
      return static_cast<ULONGLONG>(bytes);
    }
    default:
      return std::nullopt;
  }
}

void SendCaptureTarget(IStreamReceive& receive, const OxString& folderPath, std::int32_t splitKind,
                       std::uint64_t splitSizeMegabytes, std::uint32_t splitDurationFrames) {
  const OxFolder folder(folderPath);
  receive.SetFolder(folder.GetPath().GetString());
  const std::optional<ULONGLONG> limit =
      FileSizeLimit(folderPath, splitKind, splitSizeMegabytes, splitDurationFrames);
  if (limit) receive.SetMaxFileSize(*limit);
  receive.SetOptions(limit ? kOptionsWithLimit : kOptions);
}

}  // namespace zelto::capture
