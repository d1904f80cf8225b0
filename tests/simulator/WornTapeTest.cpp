// Captures across worn tape: each pass over a worn stretch loses and flags
// other packets, the same reads of the same tape give the same bytes, and
// what the camcorder says it did is what an inspection of the file finds.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/PlatformExtras.h"
#include "simulator/CaptureStreamWriter.h"
#include "streamcheck/StreamInspector.h"
#include "tests/simulator/SimTestSupport.h"

using namespace zelto::sim;
using namespace sim_test;

namespace {

using Bytes = std::vector<char>;

Bytes TapeFileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A scene of 4 s from 1 s (25 frames a second), worn from 2 s to 3 s; a
// clean scene from 6 s to 8 s.
Cassette WornTape(std::uint32_t passes) {
  Cassette tape;
  tape.lengthTracks = 10 * kTracksPerSecond;
  Scene a;
  a.startTrack = 1 * kTracksPerSecond;
  a.endTrack = 5 * kTracksPerSecond;
  Scene b;
  b.startTrack = 6 * kTracksPerSecond;
  b.endTrack = 8 * kTracksPerSecond;
  b.startFrame = 200;
  tape.scenes = {a, b};
  Dropout worn;
  worn.startTrack = 2 * kTracksPerSecond;
  worn.endTrack = 3 * kTracksPerSecond;
  worn.lost = 0.05;
  worn.flagged = 0.02;
  worn.passes = passes;
  tape.dropouts = {worn};
  return tape;
}

// What the camcorder did to a file is what the packet accounting finds: every
// flag, every loss of a packet a reader can miss (a flagged packet right
// after a loss of its stream may count as lost too), each where it was done.
void ExpectFound(const FileDamage& truth) {
  using zelto::streamcheck::InspectOutcome;
  const InspectOutcome o = zelto::streamcheck::InspectFile(truth.file, {false});
  ASSERT_EQ(o.failure, InspectOutcome::Failure::None) << o.why;
  const auto& r = o.report;
  EXPECT_EQ(r.packetsFlagged, truth.flagged) << truth.file;
  EXPECT_GE(r.packetsLost, truth.lostCounted) << truth.file;
  EXPECT_LE(r.packetsLost, truth.lostCounted + truth.flaggedCounted) << truth.file;
  EXPECT_EQ(r.syncLosses, 0u);
  const auto covered = [&](std::uint64_t byte) {
    for (const auto& s : r.stretches)
      if (s.firstByte <= byte && byte <= s.endByte) return true;
    return false;
  };
  for (const DamagedPacket& p : truth.flaggedPackets) EXPECT_TRUE(covered(p.fileByte)) << "flagged at " << p.fileByte;
  for (const DamagedPacket& p : truth.lostPackets)
    if (p.payload && p.pid != 0x1FFF) {
        EXPECT_TRUE(covered(p.fileByte)) << "lost at " << p.fileByte;
      }
}

class WornTapeTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    folder = zelto::testing::TestFolder(std::string("zelto-worn-") +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    zelto::testing::RemoveFolder(folder);
    std::filesystem::create_directories(folder);
    zelto::platform::SetTimeScaleForTesting(0.2);
  }
  void TearDown() override {
    zelto::platform::SetTimeScaleForTesting(1.0);
    std::error_code ignored;
    zelto::platform::RemoveTree(folder, ignored);
    ComTest::TearDown();
  }

  // A fresh camcorder with the worn tape captures a batch of sections, one
  // file each (BASE-001-01.zlt, ...), from in-points in hundredths of a
  // second; what worn tape did to them, and the tape afterwards.
  struct Batch {
    std::vector<FileDamage> damage;
    Cassette tape;
  };
  Batch Capture(const Cassette& tape, const std::vector<DWORD>& inPoints, const std::string& base) {
    SimulatedDriver driver;
    DriverConfig config = QuickConfig();
    config.camcorder.cassette = tape;
    EventWindow events;
    Ref<ISmartControl> control;
    Ref<IStreamReceive> receive;
    DWORD cookie = 0;
    Batch batch;
    EXPECT_EQ(driver.Register(config), S_OK);
    EXPECT_EQ(BindFirstUnit(control.Out()), S_OK);
    if (!control.p) return batch;
    EXPECT_EQ(control->QueryInterface(IID_IStreamReceive, receive.OutVoid()), S_OK);
    EXPECT_EQ(control->AdviseWindow(events.Handle(), &cookie), S_OK);
    EXPECT_EQ(receive->SetFolder(zelto::platform::WidePath(folder).c_str()), S_OK);
    EXPECT_EQ(receive->SetOptions(15), S_OK);
    EXPECT_EQ(receive->ClearBatch(), S_OK);
    for (std::size_t i = 0; i < inPoints.size(); ++i) {
      const std::wstring pattern = zelto::platform::FromUtf8(base) + L"-00" + std::to_wstring(i + 1) + L"-%02d.zlt";
      EXPECT_EQ(receive->AddBatchItem(inPoints[i], 0, pattern.c_str(), 1), S_OK);
    }
    EXPECT_EQ(receive->StartBatch(), S_OK);
    EXPECT_TRUE(events.WaitForCount(DRIVER_EVENT_BATCH_COMPLETE, 1));
    batch.damage = driver.Panel().DamageRecords()->Files();
    batch.tape = *driver.Panel().CurrentCassette();
    control->UnadviseWindow(cookie);
    receive.Reset();
    control.Reset();
    driver.Unregister();
    return batch;
  }

  std::filesystem::path File(const std::string& name) const { return folder / name; }

  std::filesystem::path folder;
};

TEST_F(WornTapeTest, EachPassLosesOtherPacketsAndTheSameReadsGiveTheSameBytes) {
  // The worn scene twice, then the clean one.
  const Batch first = Capture(WornTape(0), {100, 100, 600}, "W");
  ASSERT_EQ(first.damage.size(), 2u) << "the clean scene's file is not in the log";
  EXPECT_EQ(first.tape.dropouts.at(0).passes, 2u) << "the camcorder counts the reads";
  for (std::size_t pass = 0; pass < 2; ++pass) {
    const FileDamage& d = first.damage[pass];
    EXPECT_EQ(d.file, File("W-00" + std::to_string(pass + 1) + "-01.zlt"));
    ASSERT_EQ(d.passes.size(), 1u);
    EXPECT_EQ(d.passes[0].pass, pass);
    EXPECT_EQ(d.passes[0].startTrack, 2 * kTracksPerSecond);
    // A second of tape is some 8,450 packets: 5 % lost, 2 % flagged.
    EXPECT_NEAR(static_cast<double>(d.lost), 8457 * 0.05, 100);
    EXPECT_NEAR(static_cast<double>(d.flagged), 8457 * 0.02, 60);
    // Without video (the Windows build) only the tables carry a count.
    if (CaptureStreamWriter::HasVideo()) {
      EXPECT_GT(d.lostCounted, 0u);
    }
    ExpectFound(d);
  }
  std::vector<std::uint64_t> lostFirst, lostSecond;
  for (const auto& p : first.damage[0].lostPackets) lostFirst.push_back(p.fileByte);
  for (const auto& p : first.damage[1].lostPackets) lostSecond.push_back(p.fileByte);
  EXPECT_NE(lostFirst, lostSecond) << "the second read loses other packets";
  EXPECT_NE(TapeFileBytes(File("W-001-01.zlt")), TapeFileBytes(File("W-002-01.zlt")));
  const auto clean = zelto::streamcheck::InspectFile(File("W-003-01.zlt"), {false});
  EXPECT_TRUE(clean.report.Whole());

  // Another camcorder with the same tape reads the same bytes; one whose
  // tape has been read once reads what the second read did.
  const Batch again = Capture(WornTape(0), {100}, "X");
  EXPECT_EQ(TapeFileBytes(File("X-001-01.zlt")), TapeFileBytes(File("W-001-01.zlt")));
  const Batch later = Capture(WornTape(1), {100}, "Y");
  EXPECT_EQ(TapeFileBytes(File("Y-001-01.zlt")), TapeFileBytes(File("W-002-01.zlt")));
  ASSERT_EQ(later.damage.size(), 1u);
  EXPECT_EQ(later.damage[0].passes.at(0).pass, 1u);
}

}  // namespace
