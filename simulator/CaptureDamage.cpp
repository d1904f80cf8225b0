#include "simulator/CaptureDamage.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace zelto::sim {

namespace {

constexpr std::uint16_t kNullPid = 0x1FFF;
// Stretches the writer has passed are let go in batches of this many.
constexpr std::size_t kStretchesKept = 64;

// SplitMix64's finaliser: every input bit moves every output bit.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// The transport error indicator, and a few payload bytes changed: what the
// error correction could not put right. The header stays as it was read.
void Flag(std::uint8_t* p, std::uint64_t hash) {
  p[1] |= 0x80;
  if ((p[3] & 0x10) == 0) return;
  const std::size_t payload = 4 + ((p[3] & 0x20) != 0 ? p[4] + 1u : 0u);
  if (payload >= kPacketBytes) return;
  for (int i = 0; i < 4; ++i) {
    hash = Mix(hash);
    p[payload + hash % (kPacketBytes - payload)] ^= static_cast<std::uint8_t>((hash >> 32) | 1);
  }
}

void Note(std::vector<DamagedPacket>& list, const DamagedPacket& packet) {
  if (list.size() < FileDamage::kMostListed) list.push_back(packet);
}

}  // namespace

void DamageLog::Add(FileDamage damage) {
  std::lock_guard guard(lock_);
  files_.push_back(std::move(damage));
}

std::vector<FileDamage> DamageLog::Files() const {
  std::lock_guard guard(lock_);
  return files_;
}

CaptureDamage::CaptureDamage(std::function<std::uint32_t(const Dropout&)> takePass, std::shared_ptr<DamageLog> log)
    : takePass_(std::move(takePass)), log_(std::move(log)) {}

void CaptureDamage::BeginFile(const std::filesystem::path& file) {
  EndFile();
  file_.emplace();
  file_->file = file;
  fileKey_.reset();
  stretches_.clear();
  next_ = 0;
}

void CaptureDamage::EndFile() {
  if (file_ && !file_->passes.empty() && log_) log_->Add(std::move(*file_));
  file_.reset();
}

void CaptureDamage::Place(const std::vector<Dropout>& dropouts, std::uint64_t fromByte, std::uint64_t toByte,
                          double fromTrack, double toTrack) {
  if (!file_ || toByte <= fromByte) return;
  if (!fileKey_) fileKey_ = static_cast<std::uint32_t>(fromTrack);
  // A read that does not go on from the last one (a new search, the tape
  // played again) is a new pass over whatever it reads.
  if (!lastTrack_ || std::abs(*lastTrack_ - fromTrack) >= 1.0) passes_.clear();
  lastTrack_ = toTrack;
  Stretch stretch{fromByte, toByte, fromTrack, toTrack, {}};
  std::map<std::uint32_t, std::uint32_t> reading;  // a stretch the head has left ends its pass
  for (const Dropout& d : dropouts) {
    if (d.endTrack <= fromTrack || d.startTrack >= toTrack) continue;
    const auto under = passes_.find(d.startTrack);
    const std::uint32_t pass = under != passes_.end() ? under->second : takePass_(d);
    reading[d.startTrack] = pass;
    stretch.readings.push_back(Reading{d, pass});
    const auto known = std::find_if(file_->passes.begin(), file_->passes.end(), [&](const FileDamage::Pass& p) {
      return p.startTrack == d.startTrack && p.pass == pass;
    });
    if (known == file_->passes.end()) file_->passes.push_back(FileDamage::Pass{d.startTrack, d.endTrack, pass});
  }
  passes_ = std::move(reading);
  if (stretch.readings.empty()) return;
  if (next_ >= kStretchesKept) {
    stretches_.erase(stretches_.begin(), stretches_.begin() + static_cast<std::ptrdiff_t>(next_));
    next_ = 0;
  }
  stretches_.push_back(std::move(stretch));
}

bool CaptureDamage::Keep(std::uint8_t* packet, std::uint64_t streamByte, std::uint64_t fileByte) {
  while (next_ < stretches_.size() && stretches_[next_].toByte <= streamByte) ++next_;
  if (!file_ || !fileKey_ || next_ == stretches_.size() || stretches_[next_].fromByte > streamByte) return true;
  const Stretch& s = stretches_[next_];
  const double track = s.fromTrack + (s.toTrack - s.fromTrack) * static_cast<double>(streamByte - s.fromByte) /
                                         static_cast<double>(s.toByte - s.fromByte);
  for (const Reading& r : s.readings) {
    const Dropout& d = r.dropout;
    if (track < d.startTrack || track >= d.endTrack) continue;
    const std::uint64_t hash = Mix(Mix(Mix((std::uint64_t{d.startTrack} << 32) | d.endTrack) ^ r.pass) ^
                                   ((std::uint64_t{*fileKey_} << 32) ^ (streamByte / kPacketBytes)));
    const double chance = static_cast<double>(hash >> 11) * 0x1.0p-53;  // in [0, 1)
    const auto pid = static_cast<std::uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
    const bool payload = (packet[3] & 0x10) != 0;
    const bool counted = payload && pid != kNullPid;
    const DamagedPacket damaged{fileByte, pid, payload};
    if (chance < d.lost) {
      ++file_->lost;
      if (counted) ++file_->lostCounted;
      Note(file_->lostPackets, damaged);
      return false;
    }
    if (chance < d.lost + d.flagged) {
      Flag(packet, hash);
      ++file_->flagged;
      if (counted) ++file_->flaggedCounted;
      Note(file_->flaggedPackets, damaged);
    }
    return true;
  }
  return true;
}

}  // namespace zelto::sim
