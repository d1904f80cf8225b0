// The per-packet accounting of a transport stream, fed its bytes in order
// in pieces of any size: packets, continuity-counter gaps per PID, packets
// with the transport error indicator, sync lost and regained, and the
// damaged stretches, into a StreamReport.
//
// Continuity follows the stream's rules: a packet without payload keeps its
// PID's counter; a packet may be sent twice (once) with the same counter
// and content; a discontinuity indicator starts the count afresh; padding
// (PID 0x1FFF) has no count. A flagged packet's header is not trusted: it
// moves its PID's count on only where its counter fits.
//
// Sync: a packet is taken at a sync byte unless the stream resumes inside
// it (it was cut short); bytes where no packet begins lose sync, which is
// regained where kResyncPackets sync bytes in a row stand a packet apart.
// Garbage inside a packet thus shows as the bytes after it.
//
// Working set: a table of 8192 PIDs (128 KiB), fewer than kWindowBytes held
// over between pieces, a ring of recent clock readings, and the report's
// capped lists. One thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "streamcheck/StreamReport.h"
#include "streamcheck/TransportPacket.h"

namespace zelto::streamcheck {

class PacketAccounting {
 public:
  static constexpr std::size_t kResyncPackets = 3;
  // The bytes a decision about one position needs to see.
  static constexpr std::size_t kWindowBytes = kResyncPackets * kPacketBytes + 1;

  // Told each whole packet the accounting takes (garbage and packets cut
  // short are not), with its first byte's place in the stream.
  using PacketObserver = std::function<void(const std::uint8_t* packet, std::uint64_t byte)>;

  PacketAccounting();
  explicit PacketAccounting(PacketObserver observer);

  // The next bytes of the stream.
  void Feed(const std::uint8_t* data, std::size_t size);
  // The stream has ended: what is held over is decided.
  void Finish();

  // The counts and stretches so far (complete after Finish); the picture
  // fields are left for the decoder's side.
  const StreamReport& Report() const { return report_; }
  StreamReport& Report() { return report_; }

  // The stream's time at a byte: the last video PTS at or before it, else
  // the last PCR. None before the first reading, or when the ring of
  // readings no longer reaches back that far.
  std::optional<std::int64_t> ClockAt(std::uint64_t byte) const;

 private:
  struct PidState {
    std::uint64_t lastEnd = 0;  // the byte after this PID's last packet
    std::uint64_t fingerprint = 0;  // of the last payload, to tell a duplicate
    std::uint8_t counter = 0;
    bool seen = false;
    bool lastHadPayload = false;
    bool lastWasDuplicate = false;
  };
  struct Reading {
    std::uint64_t byte;
    std::int64_t clock;
  };

  // Decides positions of data[0, size) (data[0] is stream byte `base`) from
  // `at` on while enough follows (all, at the end); answers where it stopped.
  std::size_t Run(const std::uint8_t* data, std::size_t size, std::uint64_t base, std::size_t at, bool end);
  // At a sync byte not followed by one a packet later: whether the stream
  // resumes inside this packet.
  bool CutShort(const std::uint8_t* data, std::size_t size, std::size_t at, bool end) const;
  // At a sync byte: whether a stream resumes here.
  bool ResumesAt(const std::uint8_t* data, std::size_t size, std::size_t at, bool end) const;
  void Packet(const std::uint8_t* p, std::uint64_t byte);
  void Continuity(PidState& pid, const PacketHeader& header, const Adaptation& adaptation, const std::uint8_t* p,
                  std::uint64_t byte);
  void Damage(std::uint64_t first, std::uint64_t end, std::uint64_t lost, std::uint64_t flagged,
              std::uint64_t outside);
  void Note(std::vector<Reading>& ring, std::size_t& next, std::uint64_t byte, std::int64_t clock);

  PacketObserver observer_;
  StreamReport report_;
  std::vector<PidState> pids_;
  std::vector<std::uint8_t> held_;  // undecided bytes from the end of the last piece
  std::uint64_t heldBase_ = 0;      // the stream byte of held_[0]
  bool inSync_ = true;
  std::uint64_t lostSyncAt_ = 0;
  bool finished_ = false;
  // Recent clock readings, oldest overwritten first.
  std::vector<Reading> ptsRing_;
  std::vector<Reading> pcrRing_;
  std::size_t ptsNext_ = 0;
  std::size_t pcrNext_ = 0;
};

}  // namespace zelto::streamcheck
