// Assembles one transport stream from several passes over the same stretch
// of tape: the primary capture and re-reads of its damaged stretches, each
// started a little before a stretch and ended a little after it. Where the
// passes agree the primary's packets are written as they are; where the
// primary lost or flagged a packet that a pass read well, the pass's is
// written in its place. Passes are merged in the order given, each with
// the primary as already mended by those before it (PassMerger says how
// they are aligned). A pass that cannot be aligned is refused, with the
// reason; the primary is always the stream's backbone, so with every pass
// refused the output is the primary's packets.
//
// The output holds whole packets only: bytes that were no packet (lost
// sync, a packet cut short) are left out.
//
// Working set: the primary is read once, 256 KiB at a time, and never held
// whole; each pass is held (about 1.2 times what is held of it, at most
// kMostPassBytes) with one merge stage's lookahead of about 7 MiB; the
// output is written 256 KiB at a time; two packet accountings (about 130
// KiB each) count the primary's damage and the damage left. From files, a
// pass is held only from 8 MiB before the first byte where it and the
// primary differ: a re-read from the primary's start is held over its
// damaged stretches, not over the whole file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "streamcheck/AssemblyReport.h"
#include "streamcheck/PictureCheck.h"

namespace zelto::streamcheck {

// A re-read is of a stretch, not a tape: about five minutes at the tape's rate.
inline constexpr std::uint64_t kMostPassBytes = std::uint64_t{512} << 20;

// Takes the assembled stream's bytes in order; false when it cannot (the
// assembly stops).
using ByteSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

AssemblyReport Assemble(ByteSource& primary, const std::vector<ByteSource*>& passes, const ByteSink& output);

// The same from files into a new file, which must not exist yet; on a
// failure no output file is left.
AssemblyReport Assemble(const std::filesystem::path& primary, const std::vector<std::filesystem::path>& passes,
                        const std::filesystem::path& output);

}  // namespace zelto::streamcheck
