// What an assembly of passes over one stretch of tape did: the primary's
// damage, each pass's fate (used, or refused and why), the repairs each
// pass made (primary byte ranges with the stream's time), and the damage
// the assembled stream still has: packets lost or flagged in every pass
// that covered them. Lists are capped at kMostListed, as StreamReport's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "streamcheck/StreamReport.h"

namespace zelto::streamcheck {

// Where a pass mended the primary: [firstByte, endByte) of the primary
// file; a point where it put back packets the primary lost between two of
// its packets. Counts leave out padding, which no count can miss.
struct RepairedStretch {
  std::uint64_t firstByte = 0;
  std::uint64_t endByte = 0;
  std::uint64_t packetsRecovered = 0;  // lost in the primary, taken from the pass
  std::uint64_t packetsReplaced = 0;   // flagged in the primary, the pass's good one taken
  std::size_t pass = 0;                // 2 for the first pass after the primary, ...
  std::optional<std::int64_t> clock;   // the stream's time there (90 kHz), as DamagedStretch's
};

struct PassOutcome {
  enum class Fate {
    Used,     // aligned and merged from its first clock reference that the primary holds to its end
    Partly,   // aligned, then lost its place: used up to `endByte`
    Refused,  // never aligned: nothing of it used
  };
  Fate fate = Fate::Refused;
  std::string why;  // for Partly and Refused, in words
  std::uint64_t packets = 0;
  // The primary's bytes it was merged over.
  std::uint64_t firstByte = 0;
  std::uint64_t endByte = 0;
  std::uint64_t packetsRecovered = 0;
  std::uint64_t packetsReplaced = 0;
  std::uint64_t paddingRestored = 0;  // padding packets the primary lost, put back
  // Places where the pass and the assembly so far each held packets the
  // other lacked, and the continuity counters chose their order.
  std::uint64_t interleaved = 0;
  StreamReport damage;  // the pass's own damage, as read
};

struct AssemblyReport {
  enum class Failure { None, PrimaryUnreadable, NotTransportStream, OutputExists, OutputUnwritable };
  Failure failure = Failure::None;
  std::string why;  // for a failure, in words without file names

  StreamReport primary;    // the primary as captured
  StreamReport assembled;  // the stream written: what remains damaged
  std::vector<PassOutcome> passes;  // in the order given (pass 2, 3, ...)
  std::vector<RepairedStretch> repairs;
  std::uint64_t repairsNotListed = 0;
  std::uint64_t packetsRecovered = 0;
  std::uint64_t packetsReplaced = 0;

  void AddRepair(const RepairedStretch& repair);
};

// How a damaged stretch of the primary fared: the repairs that fell in it.
struct StretchRepair {
  std::uint64_t packetsRecovered = 0;
  std::uint64_t packetsReplaced = 0;
  std::vector<std::size_t> passes;  // which passes repaired it, each once, in order
  bool Whole(const DamagedStretch& s) const {
    return packetsRecovered >= s.packetsLost && packetsReplaced >= s.packetsFlagged && s.bytesOutsidePackets == 0;
  }
};
StretchRepair RepairOf(const AssemblyReport& report, const DamagedStretch& stretch);

// The report as lines a person reads, in the words of a stream inspection:
// the primary's stretches and how each was repaired, each pass's fate, and
// the damage that remains.
std::vector<std::string> AssemblyReportLines(const AssemblyReport& report);

}  // namespace zelto::streamcheck
