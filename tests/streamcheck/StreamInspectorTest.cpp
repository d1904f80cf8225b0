// The inspector on capture files as the simulated camcorder writes them
// (FFmpeg's transport stream muxer where the build has it), damaged by the
// test: the report must say exactly what the test did.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "platform/PlatformExtras.h"
#include "streamcheck/PictureCheck.h"
#include "streamcheck/StreamInspector.h"
#include "tests/TestFolder.h"
#include "tests/streamcheck/StreamDamage.h"

namespace {

using namespace streamtest;
using zelto::streamcheck::InspectFile;
using zelto::streamcheck::InspectOutcome;
using zelto::streamcheck::StreamReport;

constexpr unsigned kStreamFrames = 50;
constexpr std::uint32_t kStreamFirstFrame = 90'000;  // 01:00:00:00 at 25 frames a second

class StreamInspectorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new std::filesystem::path(zelto::testing::TestFolder("zelto-streamcheck"));
    zelto::testing::RemoveFolder(*folder_);
    std::filesystem::create_directories(*folder_);
    std::string error;
    stream_ = new Bytes(CaptureStream(*folder_ / "capture.zlt", kStreamFrames, kStreamFirstFrame, &error));
    ASSERT_FALSE(stream_->empty()) << error;
  }
  static void TearDownTestSuite() {
    zelto::testing::RemoveFolder(*folder_);
    delete folder_;
    delete stream_;
  }

  static InspectOutcome Inspect(const Bytes& bytes, bool pictures = true) {
    const std::filesystem::path file = *folder_ / "damaged.zlt";
    WriteAll(file, bytes);
    return InspectFile(file, {pictures});
  }

  static std::filesystem::path* folder_;
  static Bytes* stream_;
};

std::filesystem::path* StreamInspectorTest::folder_ = nullptr;
Bytes* StreamInspectorTest::stream_ = nullptr;

TEST_F(StreamInspectorTest, AWholeCaptureIsWhole) {
  const InspectOutcome o = Inspect(*stream_);
  ASSERT_EQ(o.failure, InspectOutcome::Failure::None) << o.why;
  const StreamReport& r = o.report;
  EXPECT_TRUE(r.Whole());
  EXPECT_EQ(r.bytes, stream_->size());
  EXPECT_EQ(r.packets, PacketCount(*stream_));
  EXPECT_TRUE(r.stretches.empty());
  EXPECT_EQ(r.picturesChecked, zelto::streamcheck::CanCheckPictures());
  if (r.picturesChecked) {
    EXPECT_EQ(r.pictures, kStreamFrames);
    ASSERT_TRUE(r.framesPerSecond);
    EXPECT_DOUBLE_EQ(*r.framesPerSecond, 25.0);
  }
}

// The picture whose packets a case damages: a key frame well inside the
// file, large enough to lose packets from its middle.
struct Target {
  std::size_t picture;
  std::vector<std::size_t> packets;
};

Target KeyPicture(const Bytes& s) {
  const auto pictures = VideoPictures(s);
  Target t{0, {}};
  for (std::size_t i = 10; i < pictures.size(); ++i)
    if (pictures[i].size() > t.packets.size()) t = {i, pictures[i]};
  return t;
}

struct DamageCase {
  const char* name;
  // Damages the stream; sets what the report must say.
  std::function<Bytes(const Bytes&, const Target&, StreamReport&)> damage;
  bool damagesThePicture;
};

// Cases that cut packets out of a picture: a build whose captures carry no
// video has none to cut.
class PictureDamageTest : public StreamInspectorTest {
 protected:
  void SetUp() override {
    if (KeyPicture(*stream_).packets.empty()) GTEST_SKIP() << "this build writes captures without video";
  }
};

class DamageTest : public PictureDamageTest, public ::testing::WithParamInterface<DamageCase> {};

// The stretch of a loss: from the end of the PID's packet before it to
// the start of the one after, in the damaged file.
zelto::streamcheck::DamagedStretch Loss(std::size_t before, std::size_t after, std::uint64_t lost) {
  return {(before + 1) * kPacketBytes, after * kPacketBytes, lost, 0, 0, {}};
}

Bytes RemoveFromPicture(const Bytes& s, const Target& t, std::size_t count, StreamReport& expect) {
  std::set<std::size_t> gone(t.packets.begin() + 1, t.packets.begin() + 1 + static_cast<std::ptrdiff_t>(count));
  const std::size_t before = t.packets[0];
  const std::size_t after = t.packets[count + 1] - count;  // its index once the others are gone
  expect.packetsLost = count;
  expect.stretches = {Loss(before, after, count)};
  return WithoutPackets(s, gone);
}

INSTANTIATE_TEST_SUITE_P(
    Tape, DamageTest,
    ::testing::Values(
        DamageCase{"OnePacketLost",
                   [](const Bytes& s, const Target& t, StreamReport& e) { return RemoveFromPicture(s, t, 1, e); }, true},
        DamageCase{"ThreePacketsLost",
                   [](const Bytes& s, const Target& t, StreamReport& e) { return RemoveFromPicture(s, t, 3, e); }, true},
        DamageCase{"FifteenPacketsLost",
                   [](const Bytes& s, const Target& t, StreamReport& e) { return RemoveFromPicture(s, t, 15, e); },
                   true},
        DamageCase{"PacketsOfAPictureFlagged",
                   [](const Bytes& s, const Target& t, StreamReport& e) {
                     const std::set<std::size_t> flagged{t.packets[2], t.packets[3]};
                     e.packetsFlagged = 2;
                     for (std::size_t i : flagged) e.AddDamage({i * kPacketBytes, (i + 1) * kPacketBytes, 0, 1, 0, {}});
                     return WithErrorFlags(s, flagged);
                   },
                   true},
        DamageCase{"GarbageBetweenPackets",
                   [](const Bytes& s, const Target&, StreamReport& e) {
                     e.syncLosses = e.resyncs = 1;
                     e.bytesOutsidePackets = 1000;
                     e.stretches = {{700 * kPacketBytes, 700 * kPacketBytes + 1000, 0, 0, 1000, {}}};
                     return WithGarbage(s, 700 * kPacketBytes, 1000);
                   },
                   false},
        DamageCase{"OneStrayByte",
                   [](const Bytes& s, const Target&, StreamReport& e) {
                     e.syncLosses = e.resyncs = 1;
                     e.bytesOutsidePackets = 1;
                     e.stretches = {{700 * kPacketBytes, 700 * kPacketBytes + 1, 0, 0, 1, {}}};
                     return WithGarbage(s, 700 * kPacketBytes, 1);
                   },
                   false},
        DamageCase{"FileCutInsideItsLastPacket",
                   [](const Bytes& s, const Target&, StreamReport& e) {
                     const std::size_t last = (PacketCount(s) - 1) * kPacketBytes;
                     e.bytesOutsidePackets = 88;
                     e.stretches = {{last, last + 88, 0, 0, 88, {}}};
                     return WithoutBytes(s, s.size() - 100, 100);
                   },
                   false}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

TEST_P(DamageTest, ReportsExactlyTheDamageDone) {
  const Target target = KeyPicture(*stream_);
  ASSERT_GE(target.packets.size(), 17u) << "the key pictures are too small to lose 15 packets from";
  StreamReport expect;
  const Bytes damaged = GetParam().damage(*stream_, target, expect);
  const InspectOutcome o = Inspect(damaged);
  ASSERT_EQ(o.failure, InspectOutcome::Failure::None) << o.why;
  const StreamReport& r = o.report;
  EXPECT_FALSE(r.Whole());
  EXPECT_EQ(r.bytes, damaged.size());
  EXPECT_EQ(r.packets, (damaged.size() - expect.bytesOutsidePackets) / kPacketBytes);
  EXPECT_EQ(r.packetsLost, expect.packetsLost);
  EXPECT_EQ(r.packetsFlagged, expect.packetsFlagged);
  EXPECT_EQ(r.duplicatePackets, 0u);
  EXPECT_EQ(r.syncLosses, expect.syncLosses);
  EXPECT_EQ(r.resyncs, expect.resyncs);
  EXPECT_EQ(r.bytesOutsidePackets, expect.bytesOutsidePackets);
  ASSERT_EQ(r.stretches.size(), expect.stretches.size());
  for (std::size_t i = 0; i < r.stretches.size(); ++i) {
    SCOPED_TRACE("stretch " + std::to_string(i));
    EXPECT_EQ(r.stretches[i].firstByte, expect.stretches[i].firstByte);
    EXPECT_EQ(r.stretches[i].endByte, expect.stretches[i].endByte);
    EXPECT_EQ(r.stretches[i].packetsLost, expect.stretches[i].packetsLost);
    EXPECT_EQ(r.stretches[i].packetsFlagged, expect.stretches[i].packetsFlagged);
    EXPECT_EQ(r.stretches[i].bytesOutsidePackets, expect.stretches[i].bytesOutsidePackets);
    ASSERT_TRUE(r.stretches[i].clock) << "every stretch is after the stream's first time";
  }
  // The damaged picture's time code, by the stream and by the decoder.
  const std::int64_t pictureClock = (kStreamFirstFrame + target.picture) * 3600;
  if (GetParam().damagesThePicture) {
    EXPECT_EQ(*r.stretches.front().clock, pictureClock);
    EXPECT_EQ(zelto::streamcheck::TimeCodeText(*r.stretches.front().clock, 25.0),
              zelto::streamcheck::TimeCodeText(pictureClock, 25.0));
  }
  if (!r.picturesChecked) return;
  EXPECT_EQ(r.pictures, kStreamFrames);
  if (GetParam().damagesThePicture) {
    ASSERT_EQ(r.picturesDamaged, 1u);
    ASSERT_EQ(r.damagedPictures.size(), 1u);
    EXPECT_EQ(r.damagedPictures[0].clock, pictureClock);
  } else {
    EXPECT_EQ(r.picturesDamaged, 0u);
  }
}

TEST_F(PictureDamageTest, DamageInThreePlacesIsThreeStretchesInFileOrder) {
  const Target target = KeyPicture(*stream_);
  StreamReport expect;
  // Packet 400 and the garbage, after the picture, are counted in the
  // stream as it is once two packets of the picture are gone.
  const std::size_t garbageAt = target.packets.back() + 50 - 2;
  ASSERT_LT(garbageAt, PacketCount(*stream_) - 2);
  ASSERT_LT(400u, target.packets[0]);
  Bytes damaged = RemoveFromPicture(*stream_, target, 2, expect);
  damaged = WithErrorFlags(damaged, {400});
  damaged = WithGarbage(damaged, garbageAt * kPacketBytes, 300);
  const InspectOutcome o = Inspect(damaged, false);
  ASSERT_EQ(o.failure, InspectOutcome::Failure::None) << o.why;
  const StreamReport& r = o.report;
  ASSERT_EQ(r.stretches.size(), 3u);
  EXPECT_EQ(r.stretches[0].firstByte, 400 * kPacketBytes);
  EXPECT_EQ(r.stretches[0].packetsFlagged, 1u);
  EXPECT_EQ(r.stretches[1].firstByte, expect.stretches[0].firstByte);
  EXPECT_EQ(r.stretches[1].packetsLost, 2u);
  EXPECT_EQ(r.stretches[2].firstByte, garbageAt * kPacketBytes);
  EXPECT_EQ(r.stretches[2].bytesOutsidePackets, 300u);
  EXPECT_EQ(r.packetsLost, 2u);
  EXPECT_EQ(r.packetsFlagged, 1u);
  EXPECT_FALSE(r.picturesChecked);
}

// Files that are no stream to inspect.
TEST_F(StreamInspectorTest, RefusesWhatIsNoTransportStream) {
  using Failure = InspectOutcome::Failure;
  const std::filesystem::path text = *folder_ / "notes.txt";
  WriteAll(text, Bytes(5000, 'x'));
  const std::filesystem::path empty = *folder_ / "empty.zlt";
  WriteAll(empty, {});
  const struct {
    std::filesystem::path file;
    Failure failure;
  } cases[] = {{text, Failure::NotTransportStream},
               {empty, Failure::NotTransportStream},
               {*folder_ / "missing.zlt", Failure::Missing},
               {*folder_, Failure::NotAFile}};
  for (const auto& c : cases) {
    SCOPED_TRACE(zelto::platform::Utf8FromPath(c.file));
    const InspectOutcome o = InspectFile(c.file, {});
    EXPECT_EQ(o.failure, c.failure);
    EXPECT_FALSE(o.why.empty());
  }
}

}  // namespace
