// The state file: what the camcorder refuses to take over, what it replaces
// only on purpose, how two camcorders on one file stay one camcorder, and a
// change that cannot be saved.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "simulator/Camcorder.h"
#include "tests/simulator/SimTestSupport.h"
#include "tests/TestFolder.h"

using namespace zelto::sim;
using namespace sim_test;

namespace {

using Kind = StateFileError::Kind;

class StateFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = zelto::testing::TestFolder(std::string("zelto-state-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  CamcorderConfig Config(const std::filesystem::path& file) const {
    CamcorderConfig config = QuickConfig().camcorder;
    config.stateFile = file;
    return config;
  }

  // The kind of error a camcorder on this file throws; none when it opens.
  static std::optional<Kind> Refusal(const CamcorderConfig& config) {
    try {
      Camcorder camcorder(config);
    } catch (const StateFileError& e) {
      return e.kind();
    }
    return std::nullopt;
  }

  static std::string Read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void Write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }

  std::filesystem::path folder;
};

TEST_F(StateFileTest, FilesThatAreNotOursAreLeftAloneAndADamagedOneIsReplacedOnlyOnPurpose) {
  struct Case {
    const char* name;
    std::string content;
    Kind kind;
    bool replaceable;  // with replaceDamagedState
  };
  const std::vector<Case> cases = {
      {"text", "hello, this is a letter\n", Kind::NotOurs, false},
      {"cassette", Cassette::Default().ToJson(), Kind::NotOurs, false},
      {"other-json", R"({"format": "something-else", "version": 1})", Kind::NotOurs, false},
      {"newer", R"({"format": "zelto-sim-state", "version": 7, "mode": "play"})", Kind::Newer, false},
      {"fields-missing", R"({"format": "zelto-sim-state", "version": 1})", Kind::Damaged, true},
      {"truncated", R"({"format": "zelto-sim-state", "version": 1, "mode": "pl)", Kind::Damaged, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path file = folder / (std::string(c.name) + ".json");
    Write(file, c.content);
    EXPECT_EQ(Refusal(Config(file)), c.kind);
    EXPECT_EQ(Read(file), c.content) << "never overwritten";

    CamcorderConfig reset = Config(file);
    reset.replaceDamagedState = true;
    if (!c.replaceable) {
      EXPECT_EQ(Refusal(reset), c.kind) << "not even on purpose";
      EXPECT_EQ(Read(file), c.content);
      continue;
    }
    {
      Camcorder fresh(reset);
      EXPECT_EQ(fresh.CurrentCassette()->lengthTracks, QuickTape().lengthTracks);
    }
    EXPECT_EQ(Refusal(Config(file)), std::nullopt) << "replaced by a state of ours";
  }

  // A folder where the file should be, and a folder that does not exist.
  std::filesystem::create_directories(folder / "a-folder");
  EXPECT_EQ(Refusal(Config(folder / "a-folder")), Kind::NotOurs);
  EXPECT_TRUE(std::filesystem::is_directory(folder / "a-folder"));
  EXPECT_EQ(Refusal(Config(folder / "missing" / "state.json")), Kind::Unusable);
  EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
  // A name no file system takes.
  EXPECT_EQ(Refusal(Config(folder / std::string(400, 'n'))), Kind::Unusable);
}

#ifndef _WIN32
TEST_F(StateFileTest, NeverWritesThroughALink) {
  const std::filesystem::path target = folder / "precious.txt";
  Write(target, "keep me");
  std::filesystem::create_symlink(target, folder / "state.json");
  EXPECT_EQ(Refusal(Config(folder / "state.json")), Kind::NotOurs);
  // A link planted where the lock file goes is refused as well.
  std::filesystem::create_symlink(target, folder / "other.json.lock");
  EXPECT_EQ(Refusal(Config(folder / "other.json")), Kind::NotOurs);
  EXPECT_EQ(Read(target), "keep me");
}
#endif

TEST_F(StateFileTest, TwoCamcordersOnOneFileAreOneCamcorder) {
  const std::filesystem::path file = folder / "state.json";
  auto watching = std::make_unique<Camcorder>(Config(file));
  auto commanding = std::make_unique<Camcorder>(Config(file));
  EventWindow events;
  DWORD cookie = 0;
  ASSERT_EQ(watching->Advise(events.Handle(), &cookie, this), S_OK);

  // A command in one "process" reaches the one that watches, as an event.
  ASSERT_EQ(commanding->SendCommand(DECK_COMMAND_PLAY), S_OK);
  EXPECT_TRUE(events.WaitFor(DRIVER_EVENT_DECK_STATE, DECK_STATE_PLAY));
  EXPECT_EQ(watching->DeckState(), DECK_STATE_PLAY);

  // The other way round, a command is judged on the state the other left:
  // with the cassette on its way out there is nothing to stop.
  ASSERT_TRUE(watching->Eject());
  EXPECT_EQ(commanding->SendCommand(DECK_COMMAND_STOP), kErrorNotReady);

  // The last to leave does not take its own view of the tape with it.
  watching->Unadvise(cookie, this);
  watching.reset();
  commanding.reset();
  Camcorder next(Config(file));
  EXPECT_NE(next.Mode(), TransportMode::Play);
  EXPECT_NE(next.MediaInfo(), MEDIA_INFO_RECORDABLE);
  EXPECT_TRUE(next.StateProblem().empty()) << next.StateProblem();
}

TEST_F(StateFileTest, AChangeThatCannotBeSavedIsUndoneAndReported) {
  Camcorder camcorder(Config(folder / "state.json"));
  // A folder where the new state is written beside the file: it cannot be
  // made there (the lock file stays open, so the folder itself cannot go).
  std::filesystem::create_directories(folder / "state.json.new" / "in-the-way");
  EXPECT_EQ(camcorder.SendCommand(DECK_COMMAND_PLAY), kErrorStateNotSaved);
  EXPECT_EQ(camcorder.DeckState(), DECK_STATE_STOP);
  EXPECT_NE(camcorder.StateProblem().find("state.json"), std::string::npos) << camcorder.StateProblem();
}

}  // namespace
