// Where the driver writes a capture and when it starts a new part: the
// folder, the file-size limit chosen by the split kind, and the options that
// say whether a limit applies. Every capture kind tells the driver these the
// same way, from the folder and split fields of its parameter record.
#pragma once

#include <cstdint>
#include <optional>

#include "host/foundation/OxString.h"
#include "zelto/bridge/DriverInterfaces.h"

namespace zelto::capture {

// The limit in bytes, or none:
//   0 automatic: 4,200,000,000 (below FAT's 4 GiB) when the folder's volume
//     is not NTFS, none on NTFS;
//   1 by size: megabytes x 1,048,576, in 64 bits;
//   2 by duration: seconds = frames / fps + 1 (fps 25 when the application's
//     video system is non-zero, else 30), megabytes = floor(seconds x
//     1.5163421630859375) - 1 (the stream's 1,590,000 bytes a second),
//     bytes = megabytes x 1,048,576 in 32 bits: past 4095 MiB (about 45
//     minutes) the limit wraps, as the driver has always been told it;
//   anything else: none.
std::optional<ULONGLONG> FileSizeLimit(const Orvex::OxString& folderPath, std::int32_t splitKind,
                                       std::uint64_t splitSizeMegabytes, std::uint32_t splitDurationFrames);

// SetFolder, SetMaxFileSize when there is a limit, then SetOptions: 31 with
// a limit, 15 without. Driver results are not looked at.
void SendCaptureTarget(IStreamReceive& receive, const Orvex::OxString& folderPath, std::int32_t splitKind,
                       std::uint64_t splitSizeMegabytes, std::uint32_t splitDurationFrames);

template <typename Param>
void SendCaptureTarget(IStreamReceive& receive, const Param& param) {
  SendCaptureTarget(receive, param.folderPath, param.splitKind, param.splitSizeMegabytes, param.splitDurationFrames);
}

}  // namespace zelto::capture
