// What a capture decides before the camcorder moves: the sections a command
// line names, the base names it takes, and the files it would overwrite.
#include <gtest/gtest.h>

#include <fstream>

#include "app/CapturePlan.h"
#include "tests/app/AppTestSupport.h"

using namespace zelto::app;
using zelto::sim::Cassette;
using zelto::sim::kTracksPerSecond;

namespace {

// Scenes at 1-20 s (time code from 00:00:00:00) and 30-60 s (from
// 00:10:00:00) of a two-minute tape, 25 frames a second.
Cassette Tape() {
  std::string error;
  auto cassette = Cassette::FromJson(
      R"({"length": 120, "scenes": [{"start": 1, "end": 20, "timeCode": "00:00:00:00"},
                                    {"start": 30, "end": 60, "timeCode": "00:10:00:00"}]})",
      &error);
  EXPECT_TRUE(cassette) << error;
  return *cassette;
}

TEST(CapturePlanTest, SectionsBecomeTapePositions) {
  struct Case {
    const char* section;
    std::uint32_t in, out;
    std::optional<std::uint32_t> cameraOut;
  };
  const Case cases[] = {
      {"scene:1", 100, 2000, std::nullopt},
      {"scene:2", 3000, 6000, std::nullopt},
      {"0:00:01-0:00:20", 100, 2000, std::nullopt},
      // The camcorder captures to the end of the recording: said when it differs.
      {"0:00:05.5-0:00:10", 550, 1000, 2000},
      {"0:00:32.25-0:01:00", 3225, 6000, std::nullopt},
      // Time codes as recorded: the second scene's 00:10:02:00 is 32 s into the tape.
      {"00:10:02:00-00:10:30:00", 3200, 6000, std::nullopt},
      // On blank tape the search goes on to the next scene.
      {"0:00:25-0:00:40", 2500, 4000, 6000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section);
    const PlannedSection s = ResolveSection(c.section, Tape());
    EXPECT_EQ(s.inPoint, c.in);
    EXPECT_EQ(s.outPoint, c.out);
    EXPECT_EQ(s.cameraOut, c.cameraOut);
  }

  for (const char* wrong : {"scene:0", "scene:3", "scene:x", "0:00:05", "0:00:10-0:00:05", "1:2:3-0:00:04",
                            "0:00:61-0:01:00", "0:00:01.123-0:00:02", "00:30:00:00-00:31:00:00",
                            "0:01:05-0:01:10"}) {
    EXPECT_THROW(ResolveSection(wrong, Tape()), std::invalid_argument) << wrong;
  }
  // Without the simulated camcorder's tape, only tape positions can be read.
  EXPECT_EQ(ResolveSection("0:00:05-0:00:10", std::nullopt).inPoint, 500u);
  try {
    ResolveSection("scene:1", std::nullopt);
    ADD_FAILURE() << "scene without a tape";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("scene:1"), std::string::npos) << e.what();
  }
}

TEST(CapturePlanTest, BaseNamesThatCouldNotNameAFileAreRefused) {
  for (const char* good : {"Tape", "Holiday 2025", "-", "tape.v2"}) EXPECT_EQ(BaseNameProblem(good), "") << good;
  for (const char* bad : {"", "a/b", "a\\b", "C:", "100%", "a?", "tape.", "tab\there"})
    EXPECT_NE(BaseNameProblem(bad), "") << bad;
  EXPECT_EQ(WrapFileNumber(999), 999);
  EXPECT_EQ(WrapFileNumber(1000), 1);
  EXPECT_EQ(WrapFileNumber(1234), 235);
}

class CaptureNamesTest : public apptest::AppTest {
 protected:
  void Touch(const std::string& name) { std::ofstream(folder / name) << "x"; }
};

TEST_F(CaptureNamesTest, EveryNameACaptureCanWriteIsCheckedAndAFreeOneFound) {
  for (const char* name : {"Tape-001-01.zlt", "Tape-003-12.zlt", "Tape-notes.txt", "Tapes-002-01.zlt",
                           "Tape-002-01.zlt.bak", "Clip-01.zlt", "Clip-2-01.zlt"})
    Touch(name);
  // Batch sections 1-3 meet two files; 4 and 5 none.
  EXPECT_EQ(ExistingCaptureFiles(folder, "Tape", 1, 3), (std::vector<std::string>{"Tape-001-01.zlt", "Tape-003-12.zlt"}));
  EXPECT_TRUE(ExistingCaptureFiles(folder, "Tape", 4, 2).empty());
  // 1001 wraps to 002, which is free; 1002 to 003, which is not.
  EXPECT_TRUE(ExistingCaptureFiles(folder, "Tape", 1001, 1).empty());
  EXPECT_EQ(ExistingCaptureFiles(folder, "Tape", 1002, 1), (std::vector<std::string>{"Tape-003-12.zlt"}));
  EXPECT_EQ(FreeFirstNumber(folder, "Tape", 1, 1), 2);
  EXPECT_EQ(FreeFirstNumber(folder, "Tape", 1, 2), 4) << "2 and 3 together are not free";
  // Direct parts: Clip-01 exists, and so does Clip-2's.
  EXPECT_EQ(ExistingCaptureFiles(folder, "Clip", std::nullopt, 0), (std::vector<std::string>{"Clip-01.zlt"}));
  EXPECT_EQ(FreeBaseName(folder, "Clip"), "Clip-3");
  EXPECT_EQ(FreeBaseName(folder, "Fresh"), "Fresh");
  // A whole-tape capture numbers as far as the tape goes: any scene file of
  // its base counts, past 999 too, but not another base's nor a direct part.
  Touch("Whole-1000-01.zlt");
  Touch("Whole-2-001-01.zlt");
  Touch("Whole-01.zlt");
  EXPECT_EQ(ExistingSceneFiles(folder, "Tape"), (std::vector<std::string>{"Tape-001-01.zlt", "Tape-003-12.zlt"}));
  EXPECT_EQ(ExistingSceneFiles(folder, "Whole"), (std::vector<std::string>{"Whole-1000-01.zlt"}));
  EXPECT_EQ(FreeSceneBaseName(folder, "Whole"), "Whole-3");
  EXPECT_EQ(FreeSceneBaseName(folder, "Clip"), "Clip") << "direct parts are no scene files";
}

}  // namespace
