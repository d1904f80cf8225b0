// The folders zelto keeps its data in: the data folder, named or the
// default, is made private and never one that someone else could have
// planted; each demo tour gets a folder of its own.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "app/DataFolder.h"
#include "app/DemoCommand.h"
#include "tests/TestFolder.h"

namespace {

using namespace zelto::app;
namespace fs = std::filesystem;

class DataFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = zelto::testing::TestFolder("zelto-data-folder");
    zelto::testing::RemoveFolder(root);
    fs::create_directories(root);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(root, fs::perms::owner_all, ignored);
    zelto::platform::RemoveTree(root, ignored);
  }
  fs::path root;
};

#ifndef _WIN32
unsigned Mode(const fs::path& path) {
  struct stat data {};
  return lstat(path.c_str(), &data) == 0 ? data.st_mode & 0777 : 0;
}

// Every kind of place a data folder may be given as, named or the default:
// what zelto says (empty: taken) and the folder's mode afterwards.
TEST_F(DataFolderTest, EveryKindOfFolderNamedOrDefault) {
  struct Case {
    const char* kind;
    std::function<fs::path()> make;  // the path to give
    const char* says;                // a part of the refusal; empty: taken
    unsigned namedMode;              // the mode after, when taken (0: not looked at)
    unsigned defaultMode;
  };
  const auto folder = [&](const char* name, unsigned mode) {
    fs::create_directories(root / name);
    chmod((root / name).c_str(), mode);
    return root / name;
  };
  const Case cases[] = {
      {"missing, with missing parents", [&] { return root / "a" / "b" / "data"; }, "", 0700, 0700},
      {"an open folder of the user's", [&] { return folder("open", 0755); }, "", 0755, 0700},
      {"a private folder", [&] { return folder("private", 0700); }, "", 0700, 0700},
      {"a link to a folder",
       [&] {
         folder("real", 0700);
         fs::create_directory_symlink(root / "real", root / "link");
         return root / "link";
       },
       "is a link", 0, 0},
      {"a link, written with a slash",
       [&] {
         folder("real2", 0700);
         fs::create_directory_symlink(root / "real2", root / "link2");
         return fs::path((root / "link2").string() + "/");
       },
       "is a link", 0, 0},
      {"a file",
       [&] {
         std::ofstream(root / "file") << "x";
         return root / "file";
       },
       "is not a folder", 0, 0},
      {"a folder under a file",
       [&] {
         std::ofstream(root / "plain") << "x";
         return root / "plain" / "data";
       },
       "cannot create the data folder", 0, 0},
      {"someone else's folder",
       [&] {
         // As root a folder is given away; otherwise the root folder is
         // someone else's already.
         if (geteuid() != 0) return fs::path("/");
         const fs::path theirs = folder("theirs", 0755);
         EXPECT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
         return theirs;
       },
       "belongs to another user", 0, 0},
  };
  for (const bool isDefault : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.kind) + (isDefault ? ", the default" : ", named"));
      zelto::testing::RemoveFolder(root);
      fs::create_directories(root);
      const fs::path path = c.make();
      const std::string problem = PrepareDataFolder(path, isDefault);
      if (*c.says == '\0') {
        EXPECT_EQ(problem, "");
        EXPECT_EQ(Mode(path), isDefault ? c.defaultMode : c.namedMode);
      } else {
        EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
        EXPECT_NE(problem.find(path.parent_path().string()), std::string::npos) << "names the folder: " << problem;
      }
    }
  }
  // Each parent zelto made on the way is private too.
  zelto::testing::RemoveFolder(root / "a");
  ASSERT_EQ(PrepareDataFolder(root / "a" / "b" / "data", false), "");
  EXPECT_EQ(Mode(root / "a"), 0700u);
  EXPECT_EQ(Mode(root / "a" / "b"), 0700u);
}
#endif

TEST_F(DataFolderTest, TwoToursInOneSecondEachGetAFolderOfTheirOwn) {
  std::string why;
  const std::optional<fs::path> first = MakeTourFolder(root / "demo-captures", &why);
  const std::optional<fs::path> second = MakeTourFolder(root / "demo-captures", &why);
  ASSERT_TRUE(first && second) << why;
  EXPECT_NE(*first, *second);
  EXPECT_TRUE(fs::is_directory(*first));
  EXPECT_TRUE(fs::is_directory(*second));
  EXPECT_TRUE(fs::is_empty(*first));

  std::ofstream(root / "taken") << "x";
  EXPECT_FALSE(MakeTourFolder(root / "taken", &why));
  EXPECT_NE(why.find("taken"), std::string::npos) << why;
}

}  // namespace
