// The pass assembly on captures as the simulated camcorder writes them
// (FFmpeg's muxer: video, clock references, padding to the tape's rate),
// damaged by the test in each pass: the assembled file must be the
// undamaged capture wherever some pass read a packet well, and the report
// must say where each repair came from and what damage is left.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "simulator/CaptureStreamWriter.h"
#include "streamcheck/PassAssembly.h"
#include "tests/TestFolder.h"
#include "tests/streamcheck/StreamDamage.h"

namespace {

using namespace streamtest;
using zelto::streamcheck::AssemblyReport;
using zelto::streamcheck::PassOutcome;

constexpr unsigned kFrames = 50;
constexpr std::uint32_t kFirstTimeCodeFrame = 90'000;

// The video packets of the test's capture, by index.
std::vector<std::size_t>* gVideo = nullptr;
std::size_t Video(std::size_t k) { return (*gVideo)[k]; }

// The `n` video packets from the k-th on, and the packets between them.
std::set<std::size_t> Burst(std::size_t k, std::size_t n) {
  std::set<std::size_t> packets;
  for (std::size_t i = Video(k); i <= Video(k + n - 1); ++i) packets.insert(i);
  return packets;
}

// The bytes of packets [first, end) of a stream, cut `into` bytes inside
// the packets at both ends: a pass starts and stops where the deck did.
Bytes Stretch(const Bytes& s, std::size_t first, std::size_t end, std::size_t into = 77) {
  return Bytes(s.begin() + static_cast<std::ptrdiff_t>(first * kPacketBytes + into),
               s.begin() + static_cast<std::ptrdiff_t>(end * kPacketBytes + into));
}

// The runs of padding between packets [first, end), each as its packets' indices.
std::vector<std::vector<std::size_t>> PaddingRuns(const Bytes& s, std::size_t first, std::size_t end) {
  std::vector<std::vector<std::size_t>> runs;
  for (std::size_t i = first, last = first; i < end; ++i) {
    if (Header(s, i).pid != zelto::streamcheck::kNullPid) continue;
    if (runs.empty() || i != last + 1) runs.emplace_back();
    runs.back().push_back(i);
    last = i;
  }
  return runs;
}

class PassAssemblyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new std::filesystem::path(zelto::testing::TestFolder("zelto-assembly"));
    zelto::testing::RemoveFolder(*folder_);
    std::filesystem::create_directories(*folder_);
    std::string error;
    stream_ = new Bytes(CaptureStream(*folder_ / "capture.zlt", kFrames, kFirstTimeCodeFrame, &error));
    other_ = new Bytes(CaptureStream(*folder_ / "other.zlt", kFrames, kFirstTimeCodeFrame + 250, &error));
    ASSERT_FALSE(stream_->empty()) << error;
    gVideo = new std::vector<std::size_t>();
    for (const auto& picture : VideoPictures(*stream_)) gVideo->insert(gVideo->end(), picture.begin(), picture.end());
  }
  static void TearDownTestSuite() {
    zelto::testing::RemoveFolder(*folder_);
    delete folder_;
    delete stream_;
    delete other_;
    delete gVideo;
  }
  void SetUp() override {
    // Only a capture with pictures carries the clock references passes are aligned by.
    if (!zelto::sim::CaptureStreamWriter::HasVideo()) GTEST_SKIP() << "this build writes captures without video";
  }

  // Assembles `primary` and `passes` (files written for the purpose) into a fresh file; its bytes in *out.
  static AssemblyReport Run(const Bytes& primary, const std::vector<Bytes>& passes, Bytes* out) {
    std::vector<std::filesystem::path> passFiles;
    WriteAll(*folder_ / "primary.zlt", primary);
    for (std::size_t k = 0; k < passes.size(); ++k) {
      passFiles.push_back(*folder_ / ("pass-" + std::to_string(k + 2) + ".zlt"));
      WriteAll(passFiles.back(), passes[k]);
    }
    const auto output = *folder_ / "assembled.zlt";
    std::filesystem::remove(output);
    const AssemblyReport r = zelto::streamcheck::Assemble(*folder_ / "primary.zlt", passFiles, output);
    *out = ReadAll(output);
    return r;
  }

  static std::filesystem::path* folder_;
  static Bytes* stream_;
  static Bytes* other_;
};

std::filesystem::path* PassAssemblyTest::folder_ = nullptr;
Bytes* PassAssemblyTest::stream_ = nullptr;
Bytes* PassAssemblyTest::other_ = nullptr;

// Each case damages the primary and cuts and damages the passes; the
// assembly must come out as `expected` (the undamaged capture unless it says).
struct MergeCase {
  const char* name;
  std::function<void(const Bytes& s, Bytes& primary, std::vector<Bytes>& passes, Bytes& expected)> make;
  std::uint64_t lostLeft;
  std::uint64_t flaggedLeft;
};

class MergeTest : public PassAssemblyTest, public ::testing::WithParamInterface<MergeCase> {};

TEST_P(MergeTest, AssemblesWhatSomePassReadWell) {
  const Bytes& s = *stream_;
  Bytes primary, expected = s;
  std::vector<Bytes> passes;
  GetParam().make(s, primary, passes, expected);
  Bytes out;
  const AssemblyReport r = Run(primary, passes, &out);
  ASSERT_EQ(r.failure, AssemblyReport::Failure::None) << r.why;
  EXPECT_TRUE(out == expected) << "the assembled file differs from what every pass together holds (" << out.size()
                               << " bytes, " << expected.size() << " expected)";
  EXPECT_EQ(r.assembled.packetsLost, GetParam().lostLeft);
  EXPECT_EQ(r.assembled.packetsFlagged, GetParam().flaggedLeft);
  for (const PassOutcome& o : r.passes) EXPECT_EQ(o.fate, PassOutcome::Fate::Used) << o.why;
  EXPECT_EQ(r.packetsRecovered + r.packetsReplaced > 0, !r.primary.Whole());
}

INSTANTIATE_TEST_SUITE_P(
    Passes, MergeTest,
    ::testing::Values(
        MergeCase{"DisjointLossesInTwoPasses",
                  [](const Bytes& s, Bytes& primary, std::vector<Bytes>& passes, Bytes&) {
                    std::set<std::size_t> first = Burst(300, 6), second = Burst(330, 4);
                    first.insert(Video(360));
                    second.insert(Video(290));
                    primary = WithoutPackets(s, first);
                    passes = {Stretch(WithoutPackets(s, second), Video(250), Video(400))};
                  },
                  0, 0},
        MergeCase{"OnePacketLostInAllThree",
                  [](const Bytes& s, Bytes& primary, std::vector<Bytes>& passes, Bytes& expected) {
                    const std::size_t everywhere = Video(320);
                    primary = WithoutPackets(s, std::set<std::size_t>{Video(300), Video(301), everywhere});
                    passes = {Stretch(WithoutPackets(s, std::set<std::size_t>{Video(310), everywhere}), Video(280), Video(360)),
                              Stretch(WithoutPackets(s, std::set<std::size_t>{Video(300), everywhere, Video(340)}), Video(290), Video(380))};
                    expected = WithoutPackets(s, std::set<std::size_t>{everywhere});
                  },
                  1, 0},
        MergeCase{"FlaggedPacketsReplaced",
                  [](const Bytes& s, Bytes& primary, std::vector<Bytes>& passes, Bytes&) {
                    primary = WithErrorFlags(s, std::set<std::size_t>{Video(300), Video(301), Video(302), Video(303) + 1, Video(350)});
                    passes = {Stretch(s, Video(280), Video(380))};
                  },
                  0, 0},
        MergeCase{"FlaggedInEveryPassStaysFlagged",
                  [](const Bytes& s, Bytes& primary, std::vector<Bytes>& passes, Bytes& expected) {
                    primary = WithErrorFlags(s, std::set<std::size_t>{Video(300), Video(310)});
                    passes = {Stretch(WithErrorFlags(s, std::set<std::size_t>{Video(310)}), Video(280), Video(380))};
                    expected = WithErrorFlags(s, std::set<std::size_t>{Video(310)});
                  },
                  0, 1},
        MergeCase{"LossesAndFlagsAcrossThreePasses",
                  [](const Bytes& s, Bytes& primary, std::vector<Bytes>& passes, Bytes&) {
                    primary = WithErrorFlags(WithoutPackets(s, Burst(400, 10)), {Video(100)});
                    passes = {Stretch(WithErrorFlags(WithoutPackets(s, Burst(405, 10)), {Video(402)}), Video(380),
                                      Video(430)),
                              Stretch(WithoutPackets(s, std::set<std::size_t>{Video(404)}), Video(60), Video(500))};
                  },
                  0, 0},
        MergeCase{"PassEndingInsideAFlaggedStretch",
                  [](const Bytes& s, Bytes& primary, std::vector<Bytes>& passes, Bytes& expected) {
                    std::set<std::size_t> flagged;
                    for (std::size_t i = Video(300); i < Video(310); ++i) flagged.insert(i);
                    primary = WithErrorFlags(s, flagged);
                    // The pass stops at video packet 305: the flags after it stay.
                    passes = {Stretch(s, Video(250), Video(305), 0)};
                    std::set<std::size_t> left;
                    for (std::size_t i = Video(305); i < Video(310); ++i) left.insert(i);
                    expected = WithErrorFlags(s, left);
                  },
                  0, 5},
        MergeCase{"PaddingLostAndFlaggedAcrossALongFlaggedStretch",
                  [](const Bytes& s, Bytes& primary, std::vector<Bytes>& passes, Bytes&) {
                    // Every packet but padding flagged over thousands of packets, so that no
                    // packet there is alike in both; in runs of padding each read loses or
                    // flags one packet where the other read it well.
                    std::set<std::size_t> primaryLost, primaryFlagged, passLost, passFlagged;
                    for (std::size_t i = Video(100); i < Video(400); ++i)
                      if (Header(s, i).pid != zelto::streamcheck::kNullPid) primaryFlagged.insert(i);
                    const auto runs = PaddingRuns(s, Video(100), Video(400));
                    for (std::size_t r = 0; r < runs.size(); ++r) {
                      const std::size_t a = runs[r].front(), b = runs[r].back();
                      if (r % 3 == 0) primaryLost.insert(a), passFlagged.insert(b);
                      if (r % 3 == 1) passLost.insert(a), primaryFlagged.insert(b);
                      if (r % 3 == 2 && a != b) primaryFlagged.insert(a), passFlagged.insert(b);
                    }
                    ASSERT_GT(Video(400) - Video(100), 2 * 2048u) << "the stretch is too short to test";
                    primary = WithoutPackets(WithErrorFlags(s, primaryFlagged), primaryLost);
                    passes = {Stretch(WithoutPackets(WithErrorFlags(s, passFlagged), passLost), Video(50), Video(450))};
                  },
                  0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PassAssemblyTest, ReportsEachRepairAtThePrimarysDamageWithItsPass) {
  const Bytes& s = *stream_;
  // Video packet 400 is one packet nearer the start once 300 is gone.
  const Bytes primary = WithErrorFlags(WithoutPackets(s, std::set<std::size_t>{Video(300)}), {Video(400) - 1});
  const std::vector<Bytes> passes = {Stretch(s, Video(250), Video(320)), Stretch(s, Video(380), Video(420))};
  Bytes out;
  const AssemblyReport r = Run(primary, passes, &out);
  ASSERT_EQ(r.failure, AssemblyReport::Failure::None) << r.why;
  EXPECT_TRUE(out == s);
  ASSERT_EQ(r.primary.stretches.size(), 2u);
  ASSERT_EQ(r.repairs.size(), 2u);
  EXPECT_EQ(r.repairs[0].pass, 2u);
  EXPECT_EQ(r.repairs[0].packetsRecovered, 1u);
  EXPECT_EQ(r.repairs[1].pass, 3u);
  EXPECT_EQ(r.repairs[1].packetsReplaced, 1u);
  // The flagged packet's place in the primary (one packet before it was lost).
  EXPECT_EQ(r.repairs[1].firstByte, (Video(400) - 1) * kPacketBytes);
  for (std::size_t k = 0; k < 2; ++k) {
    const auto repair = zelto::streamcheck::RepairOf(r, r.primary.stretches[k]);
    EXPECT_TRUE(repair.Whole(r.primary.stretches[k]));
    EXPECT_EQ(repair.passes, std::vector<std::size_t>{k + 2});
    EXPECT_TRUE(r.primary.stretches[k].clock) << "a repair is dated by the stream's time";
  }
  const auto lines = zelto::streamcheck::AssemblyReportLines(r);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_NE(lines[1].find("1 packet lost; repaired from pass 2 (1 packet recovered)"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("1 packet flagged; repaired from pass 3 (1 flagged packet replaced)"), std::string::npos)
      << lines[2];
  EXPECT_EQ(lines.back().rfind("assembled: whole;", 0), 0u) << lines.back();
}

// Passes that cannot be aligned: the primary's packets are written as
// they are, and the pass's fate says why.
struct RefusalCase {
  const char* name;
  std::function<Bytes(const Bytes& s, const Bytes& other)> pass;
  const char* why;
};

class RefusalTest : public PassAssemblyTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, KeepsThePrimary) {
  const Bytes primary = WithoutPackets(*stream_, {Video(300)});
  Bytes out;
  const AssemblyReport r = Run(primary, {GetParam().pass(*stream_, *other_)}, &out);
  ASSERT_EQ(r.failure, AssemblyReport::Failure::None) << r.why;
  EXPECT_TRUE(out == primary);
  ASSERT_EQ(r.passes.size(), 1u);
  EXPECT_EQ(r.passes[0].fate, PassOutcome::Fate::Refused);
  EXPECT_NE(r.passes[0].why.find(GetParam().why), std::string::npos) << r.passes[0].why;
  EXPECT_EQ(r.assembled.packetsLost, 1u);
  EXPECT_TRUE(r.repairs.empty());
  const auto lines = zelto::streamcheck::AssemblyReportLines(r);
  EXPECT_NE(lines[1].find("not repaired"), std::string::npos) << lines[1];
}

INSTANTIATE_TEST_SUITE_P(
    Passes, RefusalTest,
    ::testing::Values(
        RefusalCase{"ADifferentRecording",
                    [](const Bytes&, const Bytes& other) { return Stretch(other, 0, PacketCount(other) - 1); },
                    "not the same recording"},
        RefusalCase{"NoClockReference",
                    [](const Bytes& s, const Bytes&) {
                      // Padding and tables only, as a capture without pictures.
                      Bytes pass;
                      for (std::size_t i = 0; i < PacketCount(s); ++i)
                        if (Header(s, i).pid != Header(s, Video(0)).pid)
                          pass.insert(pass.end(), s.begin() + i * kPacketBytes, s.begin() + (i + 1) * kPacketBytes);
                      return pass;
                    },
                    "no clock reference"},
        RefusalCase{"NotATransportStream", [](const Bytes&, const Bytes&) { return Bytes(5000, 0x20); },
                    "not an MPEG transport stream"},
        RefusalCase{"Empty", [](const Bytes&, const Bytes&) { return Bytes(); }, "empty"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PassAssemblyTest, NeverOverwritesAndLeavesNoFileOnFailure) {
  WriteAll(*folder_ / "primary.zlt", *stream_);
  WriteAll(*folder_ / "taken.zlt", {1, 2, 3});
  auto r = zelto::streamcheck::Assemble(*folder_ / "primary.zlt", {}, *folder_ / "taken.zlt");
  EXPECT_EQ(r.failure, AssemblyReport::Failure::OutputExists);
  EXPECT_EQ(ReadAll(*folder_ / "taken.zlt"), (Bytes{1, 2, 3}));

  WriteAll(*folder_ / "noise.zlt", Bytes(4000, 0x11));
  r = zelto::streamcheck::Assemble(*folder_ / "noise.zlt", {}, *folder_ / "noise-out.zlt");
  EXPECT_EQ(r.failure, AssemblyReport::Failure::NotTransportStream);
  EXPECT_FALSE(std::filesystem::exists(*folder_ / "noise-out.zlt"));

  r = zelto::streamcheck::Assemble(*folder_ / "missing.zlt", {}, *folder_ / "missing-out.zlt");
  EXPECT_EQ(r.failure, AssemblyReport::Failure::PrimaryUnreadable);
  EXPECT_FALSE(std::filesystem::exists(*folder_ / "missing-out.zlt"));
}

}  // namespace
