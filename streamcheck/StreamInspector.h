// Inspects a transport stream file for tape damage, reading it once from
// start to end: the packet accounting (PacketAccounting) and, where asked
// and the build can, the pictures (PictureCheck) from the same reads.
//
// Working set: a read buffer of kReadBytes, the accounting's (about
// 130 KiB), and with pictures the demuxer's and decoder's (a read buffer of
// 256 KiB, the PES being assembled, a few decoded pictures); nothing grows
// with the file's size.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "streamcheck/StreamReport.h"

namespace zelto::streamcheck {

inline constexpr std::size_t kReadBytes = 1 << 20;

struct InspectOptions {
  bool pictures = true;  // decode the video too (where the build can)
};

struct InspectOutcome {
  enum class Failure { None, Missing, NotAFile, Unreadable, NotTransportStream };
  Failure failure = Failure::None;
  std::string why;  // for a failure, in words without the file's name
  StreamReport report;
};

InspectOutcome InspectFile(const std::filesystem::path& file, const InspectOptions& options);

}  // namespace zelto::streamcheck
