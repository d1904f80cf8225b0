// The scene damage list: a capture file matched to the cassette memory's
// scenes by the time codes in its stream, and a list file that survives
// whatever is found in its place.
#include <gtest/gtest.h>

#include <fstream>

#include "app/SceneDamage.h"
#include "tests/app/AppTestSupport.h"

namespace {

using namespace zelto::app;
using Orvex::_OxMICRecInfo;

std::uint32_t Packed(unsigned h, unsigned m, unsigned s, unsigned f) { return h << 24 | m << 16 | s << 8 | f; }

_OxMICRecInfo Scene(std::int64_t recordedAt, std::uint32_t start, std::uint32_t end) {
  _OxMICRecInfo r;
  r.recordedAt = recordedAt;
  r.startTimeCode = start;
  r.endTimeCode = end;
  return r;
}

constexpr std::int64_t kSecond = 90'000;

// Three scenes: 0:00-0:10, 0:10-0:20 (back to back), 1:00-1:05.
std::vector<_OxMICRecInfo> Scenes() {
  return {Scene(1, Packed(0, 0, 0, 0), Packed(0, 0, 10, 0)), Scene(2, Packed(0, 0, 10, 0), Packed(0, 0, 20, 0)),
          Scene(3, Packed(0, 1, 0, 0), Packed(0, 1, 5, 0))};
}

class SceneDamageTest : public apptest::AppTest {};

FileInspection File(const std::string& name, double first, double last) {
  FileInspection f;
  f.file = name;
  f.outcome.report.framesPerSecond = 25.0;
  f.outcome.report.firstPictureClock = static_cast<std::int64_t>(first * kSecond);
  f.outcome.report.lastPictureClock = static_cast<std::int64_t>(last * kSecond);
  return f;
}

void Wear(FileInspection& f, double at, std::uint64_t lost) {
  zelto::streamcheck::DamagedStretch s;
  s.packetsLost = lost;
  s.clock = static_cast<std::int64_t>(at * kSecond);
  f.outcome.report.stretches.push_back(s);
  f.outcome.report.packetsLost += lost;
}

TEST_F(SceneDamageTest, AFileHoldsTheScenesItsPicturesOverlapAndTheirOwnDamage) {
  // From inside the first scene to the end of the second (the muxer's tenth
  // of a second late), worn in the second only.
  FileInspection f = File("a.zlt", 4.1, 20.1);
  Wear(f, 15.5, 7);
  const auto found = SceneDamageLedger::Match(Scenes(), f);
  ASSERT_EQ(found.size(), 2u) << "the third scene lies beyond the file, the slack touches no other";
  EXPECT_EQ(found[0].first, 0u);
  EXPECT_FALSE(found[0].second.Damaged());
  EXPECT_EQ(found[0].second.from, "00:00:04:02");
  EXPECT_EQ(found[1].first, 1u);
  EXPECT_TRUE(found[1].second.Damaged());
  EXPECT_EQ(found[1].second.packetsLost, 7u);
  ASSERT_EQ(found[1].second.stretches.size(), 1u);
  EXPECT_EQ(found[1].second.stretches[0], "00:00:15:12");

  // A file with no picture, or of another stretch of time code, holds none.
  FileInspection none = File("b.zlt", 30, 40);
  EXPECT_TRUE(SceneDamageLedger::Match(Scenes(), none).empty());
  none.outcome.report.firstPictureClock.reset();
  EXPECT_TRUE(SceneDamageLedger::Match(Scenes(), none).empty());
}

TEST_F(SceneDamageTest, TheLatestCaptureOfASceneStandsAcrossCommands) {
  const std::vector<_OxMICRecInfo> scenes = Scenes();
  FileInspection first = File("first.zlt", 60.1, 65.1);
  Wear(first, 62, 3);
  ASSERT_EQ(SceneDamageLedger(folder).Record(scenes, {first}), "");
  {
    const SceneDamageLedger read(folder);
    ASSERT_TRUE(read.Find(scenes[2]).has_value());
    EXPECT_TRUE(read.Find(scenes[2])->Damaged());
    EXPECT_FALSE(read.Find(scenes[0]).has_value());
    // Another cassette's scene with the same time codes is another scene.
    EXPECT_FALSE(read.Find(Scene(99, scenes[2].startTimeCode, scenes[2].endTimeCode)).has_value());
  }
  ASSERT_EQ(SceneDamageLedger(folder).Record(scenes, {File("again.zlt", 60.1, 65.1)}), "");
  const std::optional<SceneDamage> now = SceneDamageLedger(folder).Find(scenes[2]);
  ASSERT_TRUE(now.has_value());
  EXPECT_FALSE(now->Damaged());
  EXPECT_EQ(now->file, "again.zlt");
}

// Whatever lies in the list's place, reading it never fails and a capture
// still writes a good one over it.
TEST_F(SceneDamageTest, AListDamagedOrNotOursCountsAsEmpty) {
  const auto path = folder / SceneDamageLedger::kFileName;
  const std::vector<_OxMICRecInfo> scenes = Scenes();
  for (const char* text :
       {"", "not json", "[]", R"({"scenes": 5})", R"({"scenes": [7, null, {"start": "x", "recorded": 1.5}]})",
        R"({"scenes": [{"recorded": 1, "start": 0, "end": 655360, "stretches": [1, "a"], "packetsLost": -4}]})",
        R"({"scenes": [{"recorded": 99999999999999999999999, "start": 18446744073709551615}]})"}) {
    SCOPED_TRACE(text);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    SceneDamageLedger list(folder);
    EXPECT_FALSE(list.Find(Scene(5, 0, 1)).has_value());
    EXPECT_EQ(list.Record(scenes, {File("c.zlt", 1, 9)}), "");
    EXPECT_TRUE(SceneDamageLedger(folder).Find(scenes[0]).has_value());
  }
  // A folder in its place: the list cannot be written, and says so.
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  EXPECT_NE(SceneDamageLedger(folder).Record(scenes, {File("d.zlt", 1, 9)}), "");
}

}  // namespace
