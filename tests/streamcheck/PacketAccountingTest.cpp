// The continuity rules on streams built packet by packet, each fed whole,
// a byte at a time and in uneven pieces: the count must not depend on
// where the reads fall.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "streamcheck/PacketAccounting.h"

namespace {

using zelto::streamcheck::kPacketBytes;
using zelto::streamcheck::PacketAccounting;
using zelto::streamcheck::StreamReport;

struct Spec {
  std::uint16_t pid = 0x100;
  std::uint8_t counter = 0;
  bool payload = true;
  bool adaptation = false;
  bool discontinuity = false;
  bool flagged = false;
  std::uint8_t fill = 0xA5;  // the payload's bytes
};

Spec P(std::uint8_t counter, std::uint16_t pid = 0x100) { return Spec{pid, counter}; }
Spec AdaptationOnly(std::uint8_t counter) { return Spec{0x100, counter, false, true}; }
Spec Discontinuity(std::uint8_t counter) { return Spec{0x100, counter, true, true, true}; }
Spec Flagged(std::uint8_t counter, std::uint16_t pid = 0x100) { return Spec{pid, counter, true, false, false, true}; }
Spec Other(std::uint8_t counter, std::uint8_t fill) { return Spec{0x100, counter, true, false, false, false, fill}; }

std::vector<std::uint8_t> Stream(const std::vector<Spec>& specs) {
  std::vector<std::uint8_t> out;
  for (const Spec& s : specs) {
    std::vector<std::uint8_t> p(kPacketBytes, s.fill);
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>((s.flagged ? 0x80 : 0) | (s.pid >> 8));
    p[2] = static_cast<std::uint8_t>(s.pid & 0xFF);
    p[3] = static_cast<std::uint8_t>((s.adaptation ? 0x20 : 0) | (s.payload ? 0x10 : 0) | s.counter);
    if (s.adaptation) {
      p[4] = s.payload ? 1 : static_cast<std::uint8_t>(kPacketBytes - 5);
      p[5] = s.discontinuity ? 0x80 : 0x00;
      if (!s.payload) std::fill(p.begin() + 6, p.end(), 0xFF);
    }
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

StreamReport Account(const std::vector<std::uint8_t>& bytes, std::size_t piece) {
  PacketAccounting accounting;
  for (std::size_t at = 0; at < bytes.size(); at += piece)
    accounting.Feed(bytes.data() + at, std::min(piece, bytes.size() - at));
  accounting.Finish();
  return accounting.Report();
}

struct Case {
  const char* name;
  std::vector<Spec> packets;
  std::uint64_t lost;
  std::uint64_t duplicates;
  std::uint64_t flagged;
  std::uint64_t stretches;
};

class ContinuityTest : public ::testing::TestWithParam<Case> {};

TEST_P(ContinuityTest, CountsAsTheStreamRulesSay) {
  const Case& c = GetParam();
  const std::vector<std::uint8_t> bytes = Stream(c.packets);
  for (const std::size_t piece : {bytes.size(), std::size_t{1}, std::size_t{7}, std::size_t{565}}) {
    SCOPED_TRACE("read " + std::to_string(piece) + " bytes at a time");
    const StreamReport r = Account(bytes, piece);
    EXPECT_EQ(r.packets, c.packets.size());
    EXPECT_EQ(r.packetsLost, c.lost);
    EXPECT_EQ(r.duplicatePackets, c.duplicates);
    EXPECT_EQ(r.packetsFlagged, c.flagged);
    EXPECT_EQ(r.stretches.size(), c.stretches);
    EXPECT_EQ(r.syncLosses, 0u);
    EXPECT_EQ(r.bytesOutsidePackets, 0u);
  }
}

// Padding and a second PID around the counted one, so that a count kept
// for the wrong PID shows.
const Spec kNull{0x1FFF, 5};

INSTANTIATE_TEST_SUITE_P(
    Rules, ContinuityTest,
    ::testing::Values(
        Case{"InOrderAcrossTheWrap", {P(14), kNull, P(15), P(0), P(1)}, 0, 0, 0, 0},
        Case{"GapAcrossTheWrap", {P(14), P(15), P(2)}, 2, 0, 0, 1},
        Case{"AdaptationOnlyKeepsTheCounter", {P(3), AdaptationOnly(3), P(4)}, 0, 0, 0, 0},
        Case{"AdaptationOnlyShowsALossBeforeIt", {P(3), AdaptationOnly(5), P(6)}, 2, 0, 0, 1},
        Case{"DuplicateIsNoLoss", {P(1), P(2), P(2), P(3)}, 0, 1, 0, 0},
        Case{"DuplicateAmongOtherPids", {P(1), P(0, 0x200), kNull, P(1), P(2)}, 0, 1, 0, 0},
        Case{"ThirdCopyIsARoundLost", {P(1), P(2), P(2), P(2), P(3)}, 15, 1, 0, 1},
        Case{"SameCounterOtherContentIsARoundLost", {P(1), P(2), Other(2, 0x5A), P(3)}, 15, 0, 0, 1},
        Case{"CopyAfterAdaptationOnlyIsARoundLost", {P(1), AdaptationOnly(1), P(1)}, 15, 0, 0, 1},
        Case{"DiscontinuityStartsAfresh", {P(1), P(2), Discontinuity(9), P(10)}, 0, 0, 0, 0},
        Case{"PaddingHasNoCount", {Spec{0x1FFF, 0}, Spec{0x1FFF, 7}, Spec{0x1FFF, 3}}, 0, 0, 0, 0},
        Case{"FlaggedPacketThatFits", {P(1), Flagged(2), P(3)}, 0, 0, 1, 1},
        Case{"FlaggedPacketWithABrokenCounter", {P(1), Flagged(9), P(2)}, 0, 0, 1, 1},
        Case{"FlaggedPacketWithABrokenPid", {P(1), Flagged(9, 0x155), P(2), P(3, 0x155)}, 0, 0, 1, 1},
        Case{"PidsCountedApart", {P(0), P(0, 0x200), P(1), P(2, 0x200), P(2)}, 1, 0, 0, 1}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

// Where a loss is placed: between its PID's packets either side, with the
// stream's time there.
TEST(LossPlace, CoversTheBytesBetweenThePidsPacketsEitherSide) {
  const std::vector<std::uint8_t> bytes = Stream({P(1), kNull, kNull, P(3), P(4)});
  const StreamReport r = Account(bytes, bytes.size());
  ASSERT_EQ(r.stretches.size(), 1u);
  EXPECT_EQ(r.stretches[0].firstByte, kPacketBytes);
  EXPECT_EQ(r.stretches[0].endByte, 3 * kPacketBytes);
  EXPECT_EQ(r.stretches[0].packetsLost, 1u);
  EXPECT_FALSE(r.stretches[0].clock) << "the stream carries no clock";
}

// Sync on streams of one PID: bytes that are no packet, wherever the reads fall.
struct SyncCase {
  const char* name;
  std::size_t garbageAt;  // in bytes, into a stream of 12 packets
  std::size_t garbage;    // bytes inserted
  std::size_t cutAt;      // bytes then removed here
  std::size_t cut;
  std::uint64_t packets;
  std::uint64_t syncLosses;
  std::uint64_t lost;  // a packet broken by the garbage is lost to its PID
  std::uint64_t firstByte;
  std::uint64_t endByte;
};

class SyncTest : public ::testing::TestWithParam<SyncCase> {};

TEST_P(SyncTest, FindsTheBytesOutsidePackets) {
  const SyncCase& c = GetParam();
  std::vector<Spec> specs;
  for (std::uint8_t i = 0; i < 12; ++i) specs.push_back(P(i));
  std::vector<std::uint8_t> bytes = Stream(specs);
  bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(c.garbageAt), c.garbage, std::uint8_t{0x33});
  bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(c.cutAt),
              bytes.begin() + static_cast<std::ptrdiff_t>(c.cutAt + c.cut));
  for (const std::size_t piece : {bytes.size(), std::size_t{1}, std::size_t{190}}) {
    SCOPED_TRACE("read " + std::to_string(piece) + " bytes at a time");
    const StreamReport r = Account(bytes, piece);
    EXPECT_EQ(r.packets, c.packets);
    EXPECT_EQ(r.syncLosses, c.syncLosses);
    EXPECT_EQ(r.resyncs, c.syncLosses);
    EXPECT_EQ(r.packetsLost, c.lost);
    ASSERT_EQ(r.stretches.size(), 1u);
    EXPECT_EQ(r.stretches[0].firstByte, c.firstByte);
    EXPECT_EQ(r.stretches[0].endByte, c.endByte);
    EXPECT_EQ(r.bytesOutsidePackets, c.endByte - c.firstByte);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Garbage, SyncTest,
    ::testing::Values(SyncCase{"OneByteBetweenPackets", 5 * 188, 1, 0, 0, 12, 1, 0, 5 * 188, 5 * 188 + 1},
                      SyncCase{"APacketsWorth", 5 * 188, 188, 0, 0, 12, 1, 0, 5 * 188, 6 * 188},
                      SyncCase{"AtTheStart", 0, 50, 0, 0, 12, 1, 0, 0, 50},
                      SyncCase{"InsideAPacketShowsAfterIt", 5 * 188 + 20, 30, 0, 0, 12, 1, 0, 6 * 188, 6 * 188 + 30},
                      SyncCase{"APacketCutShort", 0, 0, 5 * 188 + 88, 100, 11, 1, 1, 5 * 188, 5 * 188 + 88},
                      SyncCase{"LastPacketCutShort", 0, 0, 12 * 188 - 100, 100, 11, 0, 0, 11 * 188, 12 * 188 - 100}),
    [](const ::testing::TestParamInfo<SyncCase>& info) { return info.param.name; });

}  // namespace
