#include "streamcheck/PassMerger.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>

namespace zelto::streamcheck {

namespace {

bool CarriesClock(const AssemblyPacket& p) {
  const PacketHeader header = p.Header();
  return Adaptation::Read(p.bytes.data(), header).pcr.has_value();
}

// Packets that are one and the same: padding is alike everywhere, so it is not.
bool Matches(const AssemblyPacket& a, const AssemblyPacket& b) { return !a.Null() && a.SameBytes(b); }

// The same packet from two reads: alike, or flagged on one side with the
// other's PID and counter (the error correction leaves the header as read).
bool SamePlace(const AssemblyPacket& a, const AssemblyPacket& b) {
  if (a.SameBytes(b)) return true;
  if (!a.Flagged() && !b.Flagged()) return false;
  const PacketHeader x = a.Header(), y = b.Header();
  return x.pid == y.pid && x.continuity == y.continuity;
}

// Padding read well on either side: what padding lost or flagged is put back as.
const AssemblyPacket* GoodPadding(const std::vector<const AssemblyPacket*>& a,
                                  const std::vector<const AssemblyPacket*>& b) {
  for (const auto* run : {&a, &b})
    for (const AssemblyPacket* p : *run)
      if (p->Null() && !p->Flagged()) return p;
  return nullptr;
}

// A counter that says which packet of its PID this is: read well, not padding.
bool Counted(const PacketHeader& h) { return !h.errorFlagged && h.pid != kNullPid; }

}  // namespace

PassMerger::PassMerger(PacketSource& upstream, std::vector<AssemblyPacket> pass, std::size_t passNumber,
                       PassOutcome& outcome, AssemblyReport& report)
    : upstream_(upstream),
      pass_(std::move(pass)),
      passNumber_(passNumber),
      outcome_(outcome),
      report_(report),
      counters_(kPidCount, -1) {
  std::unordered_map<std::uint64_t, std::size_t> clocksSeen;
  for (std::size_t i = 0; i < pass_.size(); ++i) {
    const AssemblyPacket& p = pass_[i];
    if (!p.Content()) continue;
    passIndex_[p.hash].push_back(i);
    if (CarriesClock(p) && ++clocksSeen[p.hash] == 1) clockIndex_[p.hash] = i;
  }
  // A clock reference the pass holds twice anchors nothing for certain.
  for (const auto& [hash, count] : clocksSeen)
    if (count > 1) clockIndex_.erase(hash);
  outcome_.packets = pass_.size();
  if (clockIndex_.empty()) End(PassOutcome::Fate::Refused, "it holds no clock reference to align it by");
}

bool PassMerger::Next(AssemblyPacket& packet) {
  while (out_.empty()) {
    if (mode_ == Mode::Through) {
      if (ahead_.empty() && !Pull()) return false;
      Emit(ahead_.front());
      PopFront();
    } else if (mode_ == Mode::Seeking) {
      Seek();
    } else {
      Align();
    }
  }
  packet = std::move(out_.front());
  out_.pop_front();
  return true;
}

bool PassMerger::Pull() {
  if (upstreamEnded_) return false;
  AssemblyPacket p;
  if (!upstream_.Next(p)) {
    upstreamEnded_ = true;
    return false;
  }
  ahead_.push_back(std::move(p));
  if (ahead_.back().Content()) aheadIndex_[ahead_.back().hash].push_back(aheadBase_ + ahead_.size() - 1);
  return true;
}

bool PassMerger::Ahead(std::size_t count) {
  while (ahead_.size() < count)
    if (!Pull()) return false;
  return true;
}

void PassMerger::PopFront() {
  const AssemblyPacket& p = ahead_.front();
  if (p.Content()) {
    auto it = aheadIndex_.find(p.hash);
    it->second.pop_front();
    if (it->second.empty()) aheadIndex_.erase(it);
  }
  ahead_.pop_front();
  ++aheadBase_;
}

void PassMerger::Emit(const AssemblyPacket& packet) {
  const PacketHeader h = packet.Header();
  if (Counted(h)) {
    counters_[h.pid] = h.continuity;
    const Adaptation a = Adaptation::Read(packet.bytes.data(), h);
    if (a.pcr) lastPcr_ = a.pcr;
    if (const auto pts = VideoPresentationTime(packet.bytes.data(), h, a)) lastPts_ = pts;
  }
  out_.push_back(packet);
}

void PassMerger::Seek() {
  if (!Ahead(1)) {
    End(PassOutcome::Fate::Refused, "the primary holds none of its clock references: not the same recording");
    return;
  }
  const AssemblyPacket& p = ahead_.front();
  if (p.Content()) {
    const auto it = clockIndex_.find(p.hash);
    if (it != clockIndex_.end() && pass_[it->second].SameBytes(p)) {
      mode_ = Mode::Aligned;
      next_ = it->second;
      outcome_.fate = PassOutcome::Fate::Used;
      outcome_.firstByte = outcome_.endByte = p.primaryByte;
      return;
    }
  }
  Emit(p);
  PopFront();
}

void PassMerger::Align() {
  if (next_ >= pass_.size() || !Ahead(1)) {
    End(PassOutcome::Fate::Used, "");
    return;
  }
  // Padding is no landmark: a run of it is merged with what surrounds it.
  if (ahead_.front().SameBytes(pass_[next_]) && !ahead_.front().Null()) {
    outcome_.endByte = ahead_.front().primaryByte + kPacketBytes;
    Emit(ahead_.front());
    PopFront();
    ++next_;
    return;
  }
  const std::optional<Anchor> anchor = Nearest();
  if (!anchor) {
    ReplaceAtEnd();
    const bool contentLeft =
        std::any_of(pass_.begin() + static_cast<std::ptrdiff_t>(next_), pass_.end(), [](const AssemblyPacket& p) {
          return p.Content();
        });
    if (!contentLeft || upstreamEnded_) {
      End(PassOutcome::Fate::Used, "");
    } else {
      End(PassOutcome::Fate::Partly, "it lost its place at byte " + std::to_string(ahead_.front().primaryByte) +
                                         " of the primary: nothing of it matched within " +
                                         std::to_string(kLookaheadPackets) + " packets");
    }
    return;
  }
  Merge(anchor->ahead, anchor->pass);
  next_ = anchor->pass;
}

std::optional<PassMerger::Anchor> PassMerger::Nearest() {
  std::optional<Anchor> best;
  std::size_t bestCost = SIZE_MAX;
  for (std::size_t d = 0; d < bestCost && d < kLookaheadPackets; ++d) {
    const bool upstreamThere = Ahead(d + 1);
    const bool passThere = next_ + d < pass_.size();
    if (!upstreamThere && !passThere) break;
    if (upstreamThere && ahead_[d].Content()) {
      // Upstream's packet d, at its first place in the pass from here.
      const auto it = passIndex_.find(ahead_[d].hash);
      if (it != passIndex_.end()) {
        const auto at = std::lower_bound(it->second.begin(), it->second.end(), next_);
        if (at != it->second.end() && d + (*at - next_) < bestCost && pass_[*at].SameBytes(ahead_[d])) {
          bestCost = d + (*at - next_);
          best = Anchor{d, *at};
        }
      }
    }
    if (passThere && pass_[next_ + d].Content()) {
      // The pass's packet d, at its first place upstream (as far as pulled).
      const auto it = aheadIndex_.find(pass_[next_ + d].hash);
      if (it != aheadIndex_.end()) {
        const std::size_t at = static_cast<std::size_t>(it->second.front() - aheadBase_);
        if (at + d < bestCost && ahead_[at].SameBytes(pass_[next_ + d])) {
          bestCost = at + d;
          best = Anchor{at, next_ + d};
        }
      }
    }
  }
  return best;
}

void PassMerger::ReplaceAtEnd() {
  // No anchor follows: only the places counted from the last one are known.
  while (next_ < pass_.size() && Ahead(1)) {
    const AssemblyPacket& ours = ahead_.front();
    const AssemblyPacket& theirs = pass_[next_];
    const PacketHeader o = ours.Header(), t = theirs.Header();
    if (ours.SameBytes(theirs)) Emit(ours);
    else if (o.errorFlagged && !t.errorFlagged && o.pid == t.pid && o.continuity == t.continuity) Replace(ours, theirs);
    else return;
    PopFront();
    ++next_;
  }
}

void PassMerger::Merge(std::size_t aheadCount, std::size_t passEnd) {
  Run ours, theirs;
  for (std::size_t i = 0; i < aheadCount; ++i) ours.push_back(&ahead_[i]);
  for (std::size_t j = next_; j < passEnd; ++j) theirs.push_back(&pass_[j]);
  const AssemblyPacket& anchor = ahead_[aheadCount];
  const std::size_t n = ours.size(), m = theirs.size();

  if (n == 0 || m == 0 || (n + 1) * (m + 1) > kMostCells) {
    MergeDiffering(ours, theirs, anchor);
  } else {
    // The longest common run of identical packets: lcs[i][j] over ours[i..], theirs[j..].
    std::vector<std::uint16_t> lcs((n + 1) * (m + 1), 0);
    const auto cell = [&](std::size_t i, std::size_t j) -> std::uint16_t& { return lcs[i * (m + 1) + j]; };
    for (std::size_t i = n; i-- > 0;)
      for (std::size_t j = m; j-- > 0;)
        cell(i, j) = Matches(*ours[i], *theirs[j]) ? static_cast<std::uint16_t>(cell(i + 1, j + 1) + 1)
                                                   : std::max(cell(i + 1, j), cell(i, j + 1));
    std::size_t i = 0, j = 0;
    Run ourGap, theirGap;
    const auto flush = [&](const AssemblyPacket& following) {
      if (!ourGap.empty() || !theirGap.empty()) MergeDiffering(ourGap, theirGap, following);
      ourGap.clear();
      theirGap.clear();
    };
    while (i < n || j < m) {
      if (i < n && j < m && Matches(*ours[i], *theirs[j]) && cell(i, j) == cell(i + 1, j + 1) + 1) {
        flush(*ours[i]);
        Emit(*ours[i]);
        ++i;
        ++j;
      } else if (j < m && (i == n || cell(i, j + 1) >= cell(i + 1, j))) {
        theirGap.push_back(theirs[j++]);
      } else {
        ourGap.push_back(ours[i++]);
      }
    }
    flush(anchor);
  }
  for (std::size_t k = 0; k < aheadCount; ++k) PopFront();
}

void PassMerger::MergeDiffering(const Run& ours, const Run& theirs, const AssemblyPacket& following) {
  const std::uint64_t nextPrimaryByte = following.primaryByte;
  if (theirs.empty()) {
    for (const AssemblyPacket* p : ours) Emit(*p);
    return;
  }
  if (ours.empty()) {
    for (const AssemblyPacket* p : theirs) Insert(*p, nextPrimaryByte);
    return;
  }
  const AssemblyPacket* padding = GoodPadding(ours, theirs);
  if (MergeAlongside(ours, theirs, padding, nextPrimaryByte)) return;

  // Each side holds packets the other lacks. A flagged packet whose PID and
  // counter a good one on the other side has is that packet read badly.
  // Padding is not: one padding packet is as good as another.
  const auto readWellOn = [](const AssemblyPacket* bad, const Run& other) -> const AssemblyPacket* {
    if (!bad->Flagged() || bad->Null()) return nullptr;
    const PacketHeader h = bad->Header();
    for (const AssemblyPacket* p : other) {
      const PacketHeader o = p->Header();
      if (!o.errorFlagged && o.pid == h.pid && o.continuity == h.continuity) return p;
    }
    return nullptr;
  };
  Run ourKept, theirKept;
  std::map<const AssemblyPacket*, const AssemblyPacket*> replacing;  // their good one -> our flagged one
  for (const AssemblyPacket* p : ours) {
    if (const AssemblyPacket* good = readWellOn(p, theirs)) replacing[good] = p;
    else ourKept.push_back(p);
  }
  for (const AssemblyPacket* p : theirs)
    if (!readWellOn(p, ours)) theirKept.push_back(p);
  const auto nulls = [](const Run& run) {
    return static_cast<std::size_t>(std::count_if(run.begin(), run.end(), [](const AssemblyPacket* p) { return p->Null(); }));
  };
  const std::size_t ourPadding = nulls(ourKept), theirPadding = nulls(theirKept);
  const auto emitOurs = [&] {
    for (const AssemblyPacket* p : ourKept) KeepPadding(*p, padding);
  };
  // Their packets in their order; their padding is put in as ours from
  // `standIns` as long as it lasts.
  const auto emitTheirs = [&](std::uint64_t at, const Run& standIns) {
    std::size_t used = 0;
    for (const AssemblyPacket* p : theirKept) {
      const auto r = replacing.find(p);
      if (r != replacing.end()) Replace(*r->second, *p);
      else if (!p->Null()) Insert(*p, at);
      else if (used < standIns.size()) KeepPadding(*standIns[used++], padding);
      else Insert(p->Flagged() && padding ? *padding : *p, at);
    }
    for (; used < standIns.size(); ++used) KeepPadding(*standIns[used], padding);
  };
  // Where one side holds only padding, it may be the other's: the other
  // side's order is kept, with as much padding as the side that holds more.
  if (theirKept.size() == theirPadding) {
    emitOurs();
    for (std::size_t k = ourPadding; k < theirPadding; ++k)
      Insert(padding ? *padding : *theirKept[k], nextPrimaryByte);
    return;
  }
  if (ourKept.size() == ourPadding) {
    emitTheirs(nextPrimaryByte, ourKept);
    return;
  }
  // Each side's padding goes with its own packets.
  Run oursFirst = ourKept, theirsFirst = theirKept;
  oursFirst.insert(oursFirst.end(), theirKept.begin(), theirKept.end());
  theirsFirst.insert(theirsFirst.end(), ourKept.begin(), ourKept.end());
  ++outcome_.interleaved;
  if (CounterGaps(theirsFirst, following) < CounterGaps(oursFirst, following)) {
    emitTheirs(ourKept.front()->primaryByte, {});
    emitOurs();
  } else {
    emitOurs();
    emitTheirs(nextPrimaryByte, {});
  }
}

bool PassMerger::MergeAlongside(const Run& ours, const Run& theirs, const AssemblyPacket* padding,
                                std::uint64_t nextPrimaryByte) {
  const auto runEnd = [](const Run& run, std::size_t from) {
    while (from < run.size() && run[from]->Null()) ++from;
    return from;
  };
  for (std::size_t i = runEnd(ours, 0), j = runEnd(theirs, 0);; i = runEnd(ours, i + 1), j = runEnd(theirs, j + 1)) {
    if (i == ours.size() || j == theirs.size()) {
      if (i != ours.size() || j != theirs.size()) return false;
      break;
    }
    if (!SamePlace(*ours[i], *theirs[j])) return false;
  }
  std::size_t i = 0, j = 0;
  while (i < ours.size() || j < theirs.size()) {
    const std::size_t ourEnd = runEnd(ours, i), theirEnd = runEnd(theirs, j);
    // The runs of padding before the next packet: ours, read well where
    // either side was, and what the pass holds more of at the run's end.
    for (; i < ourEnd; ++i, ++j) {
      const AssemblyPacket* theirsHere = j < theirEnd && !theirs[j]->Flagged() ? theirs[j] : padding;
      KeepPadding(*ours[i], theirsHere);
    }
    const std::uint64_t at = ourEnd < ours.size() ? ours[ourEnd]->primaryByte : nextPrimaryByte;
    for (; j < theirEnd; ++j) Insert(theirs[j]->Flagged() && padding ? *padding : *theirs[j], at);
    j = theirEnd;
    if (i == ours.size()) break;
    if (ours[i]->Flagged() && !theirs[j]->Flagged()) Replace(*ours[i], *theirs[j]);
    else Emit(*ours[i]);
    ++i;
    ++j;
  }
  return true;
}

void PassMerger::KeepPadding(const AssemblyPacket& ours, const AssemblyPacket* good) {
  if (ours.Null() && ours.Flagged() && good) Replace(ours, *good);
  else Emit(ours);
}

void PassMerger::Insert(const AssemblyPacket& packet, std::uint64_t primaryByte) {
  AssemblyPacket put = packet;
  put.primaryByte = primaryByte;
  if (packet.Null()) ++outcome_.paddingRestored;
  else Repair(primaryByte, primaryByte, 1, 0);
  Emit(put);
}

void PassMerger::Replace(const AssemblyPacket& flagged, const AssemblyPacket& good) {
  AssemblyPacket put = good;
  put.primaryByte = flagged.primaryByte;
  Repair(flagged.primaryByte, flagged.primaryByte + kPacketBytes, 0, 1);
  Emit(put);
}

std::uint64_t PassMerger::CounterGaps(const Run& run, const AssemblyPacket& next) const {
  std::unordered_map<std::uint16_t, std::int16_t> counters;
  std::uint64_t gaps = 0;
  const auto count = [&](const AssemblyPacket& p) {
    const PacketHeader h = p.Header();
    if (!Counted(h)) return;
    const auto it = counters.find(h.pid);
    const std::int16_t last = it != counters.end() ? it->second : counters_[h.pid];
    if (last >= 0) {
      const int expected = h.hasPayload ? (last + 1) & 0x0F : last;
      gaps += static_cast<std::uint64_t>((h.continuity - expected) & 0x0F);
    }
    counters[h.pid] = h.continuity;
  };
  for (const AssemblyPacket* p : run) count(*p);
  count(next);
  return gaps;
}

void PassMerger::Repair(std::uint64_t firstByte, std::uint64_t endByte, std::uint64_t recovered,
                        std::uint64_t replaced) {
  outcome_.packetsRecovered += recovered;
  outcome_.packetsReplaced += replaced;
  report_.AddRepair(RepairedStretch{firstByte, endByte, recovered, replaced, passNumber_, lastPts_ ? lastPts_ : lastPcr_});
}

void PassMerger::End(PassOutcome::Fate fate, std::string why) {
  mode_ = Mode::Through;
  outcome_.fate = fate;
  outcome_.why = std::move(why);
}

}  // namespace zelto::streamcheck
