// Names outside ASCII, as a folder and as a base name, through every road
// that writes or reads a file by a name the user gives: each file lands on
// the disk under exactly that name, in UTF-8, and nothing escapes a thread.
// The data folder and the state file lie under such a name too.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <set>

#include "app/DataFolder.h"
#include "app/ExitCode.h"
#include "platform/PlatformExtras.h"
#include "tests/app/AppTestSupport.h"

namespace {

using apptest::AppTest;
using apptest::Result;
using namespace zelto::app;
namespace zp = zelto::platform;

struct Name {
  const char* label;  // how the test is listed
  const char* utf8;
};
void PrintTo(const Name& name, std::ostream* out) { *out << name.label; }

// Accents, a Japanese name, an emoji with its variation selector, and three
// scripts at once.
const Name kNames[] = {
    {"Cafe", "caf\xc3\xa9"},
    {"DossierEte", "dossier-\xc3\xa9t\xc3\xa9"},
    {"Japanese", "\xe9\x8c\xb2\xe7\x94\xbb\xe3\x83\x86\xe3\x83\xbc\xe3\x83\x97"},
    {"Emoji", "\xf0\x9f\x8e\x9e\xef\xb8\x8f" "clip"},
    {"MixedScripts", "\xce\xa9mega-\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82-\xe6\x9d\xb1\xe4\xba\xac"},
};

// Two scenes (0.5-1.5 s and 2-3 s) with memory on an 8 s tape standing in
// the first; blank tape after 3 s to record on.
const char* const kShortNamedTape = R"({"length": 8, "position": 0.6, "memory": {"title": "T"},
    "scenes": [{"start": 0.5, "end": 1.5, "timeCode": "00:00:00:00"},
               {"start": 2, "end": 3, "timeCode": "00:01:00:00"}]})";

// Every file under a folder by its UTF-8 path from there, '/' between parts.
std::set<std::string> FilesUnder(const std::filesystem::path& root) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    // The list of whole captures zelto keeps beside them is not a capture.
    if (!entry.is_regular_file() || entry.path().filename() == ".zelto-captures") continue;
    std::string name;
    for (const auto& part : entry.path().lexically_relative(root))
      name += (name.empty() ? "" : "/") + zp::Utf8FromPath(part);
    names.insert(name);
  }
  return names;
}

class UnicodeNamesTest : public AppTest, public ::testing::WithParamInterface<Name> {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    // The data folder, the state file and the cassette file lie under a
    // name outside ASCII too.
    root = folder;
    folder = root / zp::PathFromUtf8("donn\xc3\xa9" "es-\xe7\x8a\xb6\xe6\x85\x8b");
    std::filesystem::create_directories(folder);
    zp::SetTimeScaleForTesting(0.1);
  }
  void TearDown() override {
    zp::SetTimeScaleForTesting(1.0);
    folder = root;
    AppTest::TearDown();
  }

  // Runs and expects success.
  void Run(const std::vector<std::string>& args) {
    const Result result = Zelto(args);
    ASSERT_EQ(result.code, kExitOk) << args[0] << "\n" << result.err << result.out;
    EXPECT_TRUE(result.err.empty()) << result.err;
  }

  std::filesystem::path root;
};

TEST_P(UnicodeNamesTest, EveryRoadKeepsTheNameAsItIs) {
  const std::string name = GetParam().utf8;
  const std::filesystem::path to = folder / zp::PathFromUtf8(name);
  const std::string dir = Utf8(to);
  const std::string sub = Utf8(to / zp::PathFromUtf8(name));

  ASSERT_NO_FATAL_FAILURE(Run({"--cassette", Cassette(kShortNamedTape, name + ".json"), "capture", "direct", "--to", dir,
                               "--name", name, "--seconds", "1"}));
  ASSERT_NO_FATAL_FAILURE(Run({"capture", "batch", "--to", dir, "--name", name, "scene:2"}));
  // Onto the blank tape after the second scene, from the direct capture's file.
  ASSERT_NO_FATAL_FAILURE(Run({"deck", "seek", "1050", "--wait"}));
  ASSERT_NO_FATAL_FAILURE(Run({"record", Utf8(to / zp::PathFromUtf8(name + "-01.zlt")), "--margins", "0.2,0.2"}));
  ASSERT_NO_FATAL_FAILURE(Run({"scan", "--contact-sheet", Utf8(to / zp::PathFromUtf8(name + ".png"))}));
  ASSERT_NO_FATAL_FAILURE(Run({"mic", "text", name}));
  const Result mic = Zelto({"mic", "--json"});
  ASSERT_EQ(mic.code, kExitOk) << mic.err;
  EXPECT_EQ(nlohmann::json::parse(mic.out).at("text"), name);
  // The whole cassette, recorded scene and all, into a folder of the same name.
  ASSERT_NO_FATAL_FAILURE(Run({"capture", "tape", "--to", sub, "--name", name, "--stream-timeout", "1500", "--poll",
                               "250"}));

  const std::set<std::string> expected = {
      name + "-01.zlt",
      name + "-001-01.zlt",
      name + ".png",
      name + "/" + name + "-001-01.zlt",
      name + "/" + name + "-002-01.zlt",
      name + "/" + name + "-003-01.zlt",
  };
  EXPECT_EQ(FilesUnder(to), expected);
  // Opened by the UTF-8 name: the bytes are there.
  for (const std::string& file : expected)
    EXPECT_GT(std::filesystem::file_size(to / zp::PathFromUtf8(file)), 1000u) << file;
  // The host's database and the camcorder's state, under the data folder's name.
  EXPECT_TRUE(std::filesystem::exists(folder / "data" / "micdb.mdb"));
  EXPECT_TRUE(std::filesystem::exists(folder / "state.json"));
}

#ifdef _WIN32
// Windows runs the camcorder's clock at its own pace, and every road takes
// half a minute: one name carries the table's scripts, astral plane and all.
const Name kEveryScript = {
    "EveryScript",
    "caf\xc3\xa9-\xe9\x8c\xb2\xe7\x94\xbb-\xf0\x9f\x8e\x9e\xef\xb8\x8f-\xce\xa9-\xd0\x9f\xd1\x80\xd0\xb8-\xe6\x9d\xb1"};
INSTANTIATE_TEST_SUITE_P(Names, UnicodeNamesTest, ::testing::Values(kEveryScript));
#else
INSTANTIATE_TEST_SUITE_P(Names, UnicodeNamesTest, ::testing::ValuesIn(kNames));
#endif

// The variable that names the user's own folders, set to a path while it
// lives, and put back after.
class ScopedHome {
 public:
#ifdef _WIN32
  static constexpr const wchar_t* kVariable = L"LOCALAPPDATA";
  static constexpr const char* kLeaf = "Zelto";
  explicit ScopedHome(const std::filesystem::path& home) {
    if (const wchar_t* old = _wgetenv(kVariable)) before = old;
    _wputenv_s(kVariable, zp::WidePath(home).c_str());
  }
  ~ScopedHome() { _wputenv_s(kVariable, before.c_str()); }  // empty: removed
  std::wstring before;
#else
  static constexpr const char* kVariable = "XDG_STATE_HOME";
  static constexpr const char* kLeaf = "zelto";
  explicit ScopedHome(const std::filesystem::path& home) {
    if (const char* old = std::getenv(kVariable)) before = old;
    setenv(kVariable, zp::Utf8FromPath(home).c_str(), 1);
  }
  ~ScopedHome() {
    if (before) setenv(kVariable, before->c_str(), 1);
    else unsetenv(kVariable);
  }
  std::optional<std::string> before;
#endif
};

TEST(DefaultDataFolderTest, FollowsAnEnvironmentOutsideAscii) {
  const std::filesystem::path home = zelto::testing::TestFolder("zelto-home") / zp::PathFromUtf8(kNames[4].utf8);
  std::optional<std::filesystem::path> folder;
  {
    ScopedHome scoped(home);
    folder = DefaultDataFolder();
  }
  ASSERT_TRUE(folder);
  EXPECT_EQ(zp::Utf8FromPath(*folder), zp::Utf8FromPath(home / ScopedHome::kLeaf));
}

}  // namespace
