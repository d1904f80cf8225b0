// The state file: what the camcorder refuses to take over, what it replaces
// only on purpose, how two camcorders on one file stay one camcorder, and a
// change that cannot be saved.
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "simulator/Camcorder.h"
#include "tests/simulator/SimTestSupport.h"

using namespace zelto::sim;
using namespace sim_test;

namespace {

using Kind = StateFileError::Kind;

class StateFileTest : public FolderTest {
 protected:
  StateFileTest() : FolderTest("zelto-state-") {}

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
      {"empty", "", Kind::Damaged, true},
      {"blank", "\n\n", Kind::Damaged, true},
      {"cut-in-the-format", "{\n  \"form", Kind::Damaged, true},
      {"older-cut-short", R"({ "camcorderMode": 3, "cassette": {"length": 36)", Kind::Damaged, true},
      {"other-json-cut-short", R"({"title": "my holiday", "scenes": [)", Kind::NotOurs, false},
      {"a-brace", "{", Kind::NotOurs, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path file = folder / (std::string(c.name) + ".json");
    Write(file, c.content);
    EXPECT_EQ(Refusal(Config(file)), c.kind);
    EXPECT_EQ(Read(file), c.content) << "never overwritten";
    // Nothing is left beside a file that is not ours.
    const bool ours = c.kind == Kind::Damaged;
    EXPECT_EQ(std::filesystem::exists(folder / (std::string(c.name) + ".json.lock")), ours);

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
  EXPECT_FALSE(std::filesystem::exists(folder / "a-folder.lock"));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "a-folder"));
  EXPECT_EQ(Refusal(Config(folder / "missing" / "state.json")), Kind::Unusable);
  EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
  // A name no file system takes.
  EXPECT_EQ(Refusal(Config(folder / std::string(400, 'n'))), Kind::Unusable);
}

// A camcorder that only reads (for a status or a watch) never makes,
// writes or replaces the state file or its lock file, keeps its own changes
// to itself and hears another's; one that changes the camcorder refuses a
// read-only state file, leaving it and its mode as they were, and keeps the
// mode of a file it rewrites.
TEST_F(StateFileTest, AReadingCamcorderNeverWritesAndAReadOnlyFileIsNeverReplaced) {
  using std::filesystem::perms;
  {
    Camcorder made(Config(folder / "made.json"));
  }
  const std::string ours = Read(folder / "made.json");
  struct Case {
    const char* name;
    std::optional<std::string> content;  // none: no file
    perms mode;
    std::optional<Kind> reading;  // how a reading camcorder refuses it; none: it opens
    std::optional<Kind> writing;
  };
  const perms writable = perms::owner_read | perms::owner_write | perms::group_read;
  const perms readOnly = perms::owner_read | perms::group_read | perms::others_read;
  const std::vector<Case> cases = {
      {"missing", std::nullopt, writable, std::nullopt, std::nullopt},
      {"ours", ours, writable, std::nullopt, std::nullopt},
      {"read-only", ours, readOnly, std::nullopt, Kind::ReadOnly},
      {"foreign", "a letter", writable, Kind::NotOurs, Kind::NotOurs},
      {"empty", "", writable, Kind::Damaged, Kind::Damaged},
  };
  auto modeOf = [](const std::filesystem::path& file) {
    // Windows keeps only whether a file may be written.
    return std::filesystem::status(file).permissions() & perms::owner_write;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path file = folder / (std::string(c.name) + ".json");
    if (c.content) {
      Write(file, *c.content);
      std::filesystem::permissions(file, c.mode);
    }
    CamcorderConfig reading = Config(file);
    reading.readOnlyState = true;
    reading.replaceDamagedState = true;  // never, when only reading
    EXPECT_EQ(Refusal(reading), c.reading);
    if (!c.reading) {
      Camcorder camcorder(reading);
      EXPECT_EQ(camcorder.SetPreviewVolume(30), S_OK);
      EXPECT_EQ(camcorder.Preview().volume, 30u) << "kept in this program";
      EXPECT_TRUE(camcorder.StateProblem().empty()) << camcorder.StateProblem();
    }
    EXPECT_FALSE(std::filesystem::exists(folder / (std::string(c.name) + ".json.lock")));
    EXPECT_EQ(std::filesystem::exists(file), c.content.has_value());
    if (c.content) {
      EXPECT_EQ(Read(file), *c.content);
      EXPECT_EQ(modeOf(file), c.mode & perms::owner_write);
    }

    EXPECT_EQ(Refusal(Config(file)), c.writing);
    if (c.content) {
      EXPECT_EQ(modeOf(file), c.mode & perms::owner_write) << "its mode as it was";
    }
    if (c.writing == Kind::ReadOnly) {
      EXPECT_EQ(Read(file), *c.content);
    }
    std::filesystem::permissions(file, writable);
  }

  // A reading camcorder hears what a writing one does.
  Camcorder writer(Config(folder / "made.json"));
  CamcorderConfig reading = Config(folder / "made.json");
  reading.readOnlyState = true;
  Camcorder reader(reading);
  EventWindow events;
  DWORD cookie = 0;
  ASSERT_EQ(reader.Advise(events.Handle(), &cookie, this), S_OK);
  ASSERT_EQ(writer.SendCommand(DECK_COMMAND_PLAY), S_OK);
  EXPECT_TRUE(events.WaitFor(DRIVER_EVENT_DECK_STATE, DECK_STATE_PLAY));
  reader.Unadvise(cookie, this);
}

#ifndef _WIN32
// Where nothing may be written (a read-only folder), a reading camcorder
// opens and one that would change the state says why it cannot.
TEST_F(StateFileTest, AReadOnlyFolderIsReadAndNeverWritten) {
  if (geteuid() == 0) GTEST_SKIP() << "the administrator may write in any folder";
  std::filesystem::create_directories(folder / "shelf");
  const std::filesystem::path file = folder / "shelf" / "state.json";
  {
    Camcorder made(Config(file));
  }
  std::filesystem::remove(folder / "shelf" / "state.json.lock");
  const std::string before = Read(file);
  std::filesystem::permissions(folder / "shelf", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  CamcorderConfig reading = Config(file);
  reading.readOnlyState = true;
  EXPECT_EQ(Refusal(reading), std::nullopt);
  EXPECT_EQ(Refusal(Config(file)), Kind::Unusable);
  std::filesystem::permissions(folder / "shelf", std::filesystem::perms::owner_all);
  EXPECT_EQ(Read(file), before);
  EXPECT_FALSE(std::filesystem::exists(folder / "shelf" / "state.json.lock"));
}
#endif

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
