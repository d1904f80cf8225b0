// One step of the pass assembly: merges the packets coming from upstream
// (the primary capture, or the primary already merged with earlier passes)
// with one more pass over a stretch of the same tape, and hands on the
// merged packets in order. Stages chain, one per pass.
//
// Alignment is by what the tape stamped into the stream, never by file
// offsets. The pass is taken up at its first packet that carries a clock
// reference (a PCR, unique along a recording) together with a payload and
// that upstream holds byte for byte; a pass without one is refused and
// upstream handed on untouched. From there the two are walked side by side:
// where they differ, the nearest pair of identical content packets ahead
// (fewest packets skipped on both sides together) is the next anchor, and
// what lies between is merged packet by packet (longest common run of
// identical packets; what one side holds and the other lacks is put in;
// a flagged packet with a good one at its place is replaced; where each
// side holds packets the other lacks, the continuity counters choose their
// order). Padding is alike everywhere, so it is counted, not matched:
// between the same two packets the tape held as much of it as the read
// that kept the most. A pass that finds no anchor within kLookaheadPackets is used up
// to there. Its packets before the first anchor are not used, nor after
// the last, except flagged packets replaced place for place (ReplaceAtEnd):
// elsewhere a repair needs the two to agree on both sides of it.
//
// Working set: the pass's packets (about 1.2 times its bytes) and their
// index, up to kLookaheadPackets upstream packets (about 7 MiB) and their
// index, and for a stretch where both differ, a table of at most
// kMostCells 16-bit cells (8 MiB).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>
#include <vector>

#include "streamcheck/AssemblyPacket.h"
#include "streamcheck/AssemblyReport.h"

namespace zelto::streamcheck {

// Packets in stream order.
class PacketSource {
 public:
  virtual ~PacketSource() = default;
  // The next packet; false at the end.
  virtual bool Next(AssemblyPacket& packet) = 0;
};

class PassMerger final : public PacketSource {
 public:
  // 4 s of tape at its rate.
  static constexpr std::size_t kLookaheadPackets = 32768;
  static constexpr std::size_t kMostCells = std::size_t{1} << 22;

  // `outcome` and `report` are written as the merge goes on, and complete
  // once Next has answered false. `passNumber` names the pass in repairs.
  PassMerger(PacketSource& upstream, std::vector<AssemblyPacket> pass, std::size_t passNumber, PassOutcome& outcome,
             AssemblyReport& report);

  bool Next(AssemblyPacket& packet) override;

 private:
  enum class Mode { Seeking, Aligned, Through };
  struct Anchor {
    std::size_t ahead;  // upstream packets before it
    std::size_t pass;   // its index in the pass
  };
  using Run = std::vector<const AssemblyPacket*>;

  bool Pull();
  bool Ahead(std::size_t count);
  void PopFront();
  void Emit(const AssemblyPacket& packet);
  void Seek();
  void Align();
  std::optional<Anchor> Nearest();
  // Where the pass's remaining packets have no anchor after them: those
  // standing where upstream's are, packet for packet, either the same or
  // a flagged one with the same PID and counter that the pass read well.
  void ReplaceAtEnd();
  // Merges the `aheadCount` upstream packets before the anchor with the
  // pass's packets before `passEnd`.
  void Merge(std::size_t aheadCount, std::size_t passEnd);
  // `following` is the packet after both runs.
  void MergeDiffering(const Run& ours, const Run& theirs, const AssemblyPacket& following);
  // Where the two hold the same packets but for padding and flags: walks
  // them together, each run of padding as long as the longer of the two.
  // False, with nothing handed on, where they hold different packets.
  bool MergeAlongside(const Run& ours, const Run& theirs, const AssemblyPacket* padding, std::uint64_t nextPrimaryByte);
  // Our packet, or if it is flagged padding, `good` padding in its place.
  void KeepPadding(const AssemblyPacket& ours, const AssemblyPacket* good);
  void Insert(const AssemblyPacket& packet, std::uint64_t primaryByte);
  void Replace(const AssemblyPacket& flagged, const AssemblyPacket& good);
  // Counter gaps `run` then `next` would leave, from the counters emitted so far.
  std::uint64_t CounterGaps(const Run& run, const AssemblyPacket& next) const;
  void Repair(std::uint64_t firstByte, std::uint64_t endByte, std::uint64_t recovered, std::uint64_t replaced);
  void End(PassOutcome::Fate fate, std::string why);

  PacketSource& upstream_;
  bool upstreamEnded_ = false;
  std::vector<AssemblyPacket> pass_;
  std::size_t passNumber_;
  PassOutcome& outcome_;
  AssemblyReport& report_;
  Mode mode_ = Mode::Seeking;

  // Content packets of the pass by hash, in order; its clock references.
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> passIndex_;
  std::unordered_map<std::uint64_t, std::size_t> clockIndex_;
  std::size_t next_ = 0;  // the pass's next packet

  std::deque<AssemblyPacket> ahead_;
  std::uint64_t aheadBase_ = 0;  // the upstream index of ahead_[0]
  std::unordered_map<std::uint64_t, std::deque<std::uint64_t>> aheadIndex_;

  std::deque<AssemblyPacket> out_;
  // Of the packets handed on: each PID's counter, and the stream's time.
  std::vector<std::int16_t> counters_;  // -1: none yet
  std::optional<std::int64_t> lastPts_;
  std::optional<std::int64_t> lastPcr_;
};

}  // namespace zelto::streamcheck
