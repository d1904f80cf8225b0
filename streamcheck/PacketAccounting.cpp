#include "streamcheck/PacketAccounting.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace zelto::streamcheck {

namespace {

// Clock readings kept to date damage found later: a loss reaches back to
// its PID's previous packet, a tenth of a second or so for a table.
constexpr std::size_t kRingReadings = 64;

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Enough of a payload to tell a packet sent twice from one 16 counts later:
// bytes clear of the clock references, which a duplicate may renew.
std::uint64_t Fingerprint(const std::uint8_t* p) {
  std::uint64_t h = p[3];
  for (const std::size_t at : {24, 100, 180}) h = (h ^ Load64(p + at)) * 0x9E3779B97F4A7C15ull;
  return h;
}

}  // namespace

PacketAccounting::PacketAccounting() : PacketAccounting(nullptr) {}

PacketAccounting::PacketAccounting(PacketObserver observer) : observer_(std::move(observer)), pids_(kPidCount) {
  held_.reserve(2 * kWindowBytes);
  ptsRing_.reserve(kRingReadings);
  pcrRing_.reserve(kRingReadings);
}

void PacketAccounting::Feed(const std::uint8_t* data, std::size_t size) {
  if (finished_ || size == 0) return;
  report_.bytes += size;
  std::uint64_t base = heldBase_;
  std::size_t start = 0;
  if (!held_.empty()) {
    // Join the held bytes to enough of the new ones to decide past them.
    const std::size_t heldBytes = held_.size();
    const std::size_t take = std::min(size, kWindowBytes);
    held_.insert(held_.end(), data, data + take);
    const std::size_t at = Run(held_.data(), held_.size(), heldBase_, 0, false);
    if (at < heldBytes) {  // the new bytes were too few to get past
      held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(at));
      heldBase_ += at;
      return;
    }
    base = heldBase_ + heldBytes;
    start = at - heldBytes;
    held_.clear();
  }
  const std::size_t stop = Run(data, size, base, start, false);
  held_.assign(data + stop, data + size);
  heldBase_ = base + stop;
}

void PacketAccounting::Finish() {
  if (finished_) return;
  finished_ = true;
  Run(held_.data(), held_.size(), heldBase_, 0, true);
  const std::uint64_t end = heldBase_ + held_.size();
  held_.clear();
  heldBase_ = end;
  if (!inSync_) Damage(lostSyncAt_, end, 0, 0, end - lostSyncAt_);
}

std::size_t PacketAccounting::Run(const std::uint8_t* data, std::size_t size, std::uint64_t base, std::size_t at,
                                  bool end) {
  while (at < size) {
    if (!inSync_) {
      const void* sync = std::memchr(data + at, kSyncByte, size - at);
      if (!sync) return size;  // all garbage, and decided so
      at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(sync) - data);
      if (!end && size - at < kWindowBytes) return at;
      if (!ResumesAt(data, size, at, end)) {
        ++at;
        continue;
      }
      const std::uint64_t resumed = base + at;
      Damage(lostSyncAt_, resumed, 0, 0, resumed - lostSyncAt_);
      ++report_.resyncs;
      inSync_ = true;
    }
    if (!end && size - at < kWindowBytes) return at;
    const std::size_t next = at + kPacketBytes;
    const bool whole = next <= size;
    if (!whole && data[at] == kSyncByte) {
      // The stream ends inside a packet: it was cut short.
      Damage(base + at, base + size, 0, 0, size - at);
      return size;
    }
    if (whole && data[at] == kSyncByte && !CutShort(data, size, at, end)) {
      Packet(data + at, base + at);
      at = next;
      continue;
    }
    ++report_.syncLosses;
    inSync_ = false;
    lostSyncAt_ = base + at;
    ++at;
  }
  return at;
}

bool PacketAccounting::CutShort(const std::uint8_t* data, std::size_t size, std::size_t at, bool end) const {
  const std::size_t next = at + kPacketBytes;
  if (next == size || (next < size && data[next] == kSyncByte) || (end && size - next < kPacketBytes)) return false;
  // Bytes that are no packet follow, or the next packet began inside this one.
  for (std::size_t q = at + 1; q < next; ++q)
    if (data[q] == kSyncByte && ResumesAt(data, size, q, end)) return true;
  return false;
}

bool PacketAccounting::ResumesAt(const std::uint8_t* data, std::size_t size, std::size_t at, bool end) const {
  if (at + kPacketBytes > size) return false;
  for (std::size_t i = 1; i < kResyncPackets; ++i) {
    const std::size_t next = at + i * kPacketBytes;
    if (next >= size) return end;
    if (data[next] != kSyncByte) return false;
  }
  return true;
}

void PacketAccounting::Packet(const std::uint8_t* p, std::uint64_t byte) {
  ++report_.packets;
  if (observer_) observer_(p, byte);
  const PacketHeader header = PacketHeader::Read(p);
  if (header.errorFlagged) {
    ++report_.packetsFlagged;
    Damage(byte, byte + kPacketBytes, 0, 1, 0);
  }
  if (header.pid == kNullPid) return;
  const Adaptation adaptation = Adaptation::Read(p, header);
  if (!header.errorFlagged) {
    if (adaptation.pcr) Note(pcrRing_, pcrNext_, byte, *adaptation.pcr);
    if (const auto pts = VideoPresentationTime(p, header, adaptation)) {
      Note(ptsRing_, ptsNext_, byte, *pts);
      if (!report_.firstPictureClock) report_.firstPictureClock = *pts;
      report_.lastPictureClock = *pts;
    }
  }
  Continuity(pids_[header.pid], header, adaptation, p, byte);
}

void PacketAccounting::Continuity(PidState& pid, const PacketHeader& header, const Adaptation& adaptation,
                                  const std::uint8_t* p, std::uint64_t byte) {
  const std::uint8_t counter = header.continuity;
  const std::uint8_t expected = header.hasPayload ? (pid.counter + 1) & 0x0F : pid.counter;
  const std::uint64_t fingerprint = header.hasPayload ? Fingerprint(p) : 0;
  if (header.errorFlagged) {
    // Its PID and counter may be the damage itself: it counts only where it fits.
    if (!pid.seen || counter != expected) return;
  } else if (pid.seen && !adaptation.discontinuity && counter != expected) {
    if (header.hasPayload && counter == pid.counter && pid.lastHadPayload && !pid.lastWasDuplicate &&
        fingerprint == pid.fingerprint) {
      ++report_.duplicatePackets;
      pid.lastWasDuplicate = true;
      pid.lastEnd = byte + kPacketBytes;
      return;
    }
    // A counter that stood still (no duplicate) is 15 packets on.
    const std::uint64_t lost = static_cast<std::uint8_t>(counter - expected) & 0x0F;
    report_.packetsLost += lost;
    Damage(pid.lastEnd, byte, lost, 0, 0);
  }
  pid.seen = true;
  pid.counter = counter;
  pid.lastEnd = byte + kPacketBytes;
  pid.lastHadPayload = header.hasPayload;
  pid.lastWasDuplicate = false;
  pid.fingerprint = fingerprint;
}

void PacketAccounting::Damage(std::uint64_t first, std::uint64_t end, std::uint64_t lost, std::uint64_t flagged,
                              std::uint64_t outside) {
  report_.bytesOutsidePackets += outside;
  report_.AddDamage(DamagedStretch{first, end, lost, flagged, outside, ClockAt(first)});
}

void PacketAccounting::Note(std::vector<Reading>& ring, std::size_t& next, std::uint64_t byte, std::int64_t clock) {
  if (ring.size() < kRingReadings) ring.push_back({byte, clock});
  else ring[next] = {byte, clock};
  next = (next + 1) % kRingReadings;
}

std::optional<std::int64_t> PacketAccounting::ClockAt(std::uint64_t byte) const {
  for (const std::vector<Reading>* ring : {&ptsRing_, &pcrRing_}) {
    const Reading* best = nullptr;
    for (const Reading& r : *ring)
      if (r.byte <= byte && (!best || r.byte > best->byte)) best = &r;
    if (best) return best->clock;
  }
  return std::nullopt;
}

}  // namespace zelto::streamcheck
