// Files in the per-user folder: the "Ostrel" folder made on first use, names
// with ':' opened as given, and paths or names that do not fit refused whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/user_files.h"
#include "platform/native/test_controls.h"
#include "working_folder.h"

namespace {

namespace fs = std::filesystem;

class UserFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char current[4096];
    had_appdata_ = platform::appdata_folder(current, sizeof current) == 0;
    if (had_appdata_) saved_appdata_ = current;
    appdata_ = folder_.path() + "/appdata";
    fs::create_directory(appdata_);
    platform::test::set_appdata_folder(appdata_.c_str());
  }
  void TearDown() override {
    platform::test::set_appdata_folder(had_appdata_ ? saved_appdata_.c_str() : nullptr);
  }
  // Opens, writes a marker and closes; the result of open_user_file.
  static int create(const char* name) {
    FILE* f = nullptr;
    int rc = core::open_user_file(&f, name, "wb");
    if (rc == 0) {
      EXPECT_NE(f, nullptr);
      std::fputs("marker", f);
      std::fclose(f);
    } else {
      EXPECT_EQ(f, nullptr);
    }
    return rc;
  }
  std::string ostrel() const { return appdata_ + "/Ostrel"; }

  working_folder folder_;
  std::string appdata_;
  bool had_appdata_ = false;
  std::string saved_appdata_;
};

TEST_F(UserFiles, CreatesTheFolderOnFirstUseAndOpensInIt) {
  ASSERT_FALSE(fs::exists(ostrel()));
  ASSERT_EQ(create("rankedservers"), 0);
  EXPECT_TRUE(fs::is_directory(ostrel()));
  EXPECT_EQ(working_folder::read(ostrel() + "/rankedservers"), "marker");
  // Reading it back through the same rule, and a name that starts with a separator.
  FILE* f = nullptr;
  ASSERT_EQ(core::open_user_file(&f, "\\rankedservers", "rb"), 0);
  char text[16] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text, f), 6u);
  std::fclose(f);
  EXPECT_STREQ(text, "marker");
  EXPECT_NE(core::open_user_file(&f, "missing", "rb"), 0);
  EXPECT_EQ(f, nullptr);
}

TEST_F(UserFiles, NameWithColonIsOpenedAsGiven) {
  std::string absolute = folder_.path() + "/drive:file";
  ASSERT_EQ(create(absolute.c_str()), 0);
  EXPECT_TRUE(fs::exists(absolute));
  EXPECT_FALSE(fs::exists(ostrel()));
}

TEST_F(UserFiles, WithoutAnApplicationDataFolder) {
  platform::test::set_appdata_folder(nullptr);
  EXPECT_EQ(create("rankedservers"), 1);
  // An empty folder path: the name is opened as given, in the working folder.
  platform::test::set_appdata_folder("");
  ASSERT_EQ(create("rankedservers"), 0);
  EXPECT_TRUE(fs::exists(folder_.path() + "/rankedservers"));
  EXPECT_EQ(create(""), 1);
}

// folder + "\Ostrel\" + name must stay below 260 characters; what does not
// fit opens nothing and creates no cut-short folder or file.
TEST_F(UserFiles, PathsThatDoNotFitAreRefused) {
  const size_t room = 259 - (appdata_.size() + 1);  // characters left after "<appdata>/"
  std::string deep = appdata_ + "/" + std::string(room - 8 - 10, 'd');  // leaves 8 + 10
  fs::create_directory(deep);
  platform::test::set_appdata_folder(deep.c_str());
  ASSERT_EQ(deep.size() + 8 + 10, 259u);
  std::string deep_ostrel = deep + "/Ostrel";
  EXPECT_EQ(create("nnnnnnnnnn"), 0);  // exactly 259 characters
  EXPECT_TRUE(fs::exists(deep_ostrel + "/nnnnnnnnnn"));
  EXPECT_EQ(create("nnnnnnnnnnn"), 1);  // 260
  EXPECT_FALSE(fs::exists(deep_ostrel + "/nnnnnnnnnnn"));
  EXPECT_FALSE(fs::exists(deep_ostrel + "/nnnnnnnnnn\\"));

  // A folder path that leaves no room for "Ostrel" creates nothing at all.
  std::string deeper = deep + std::string(12, 'e');
  ASSERT_EQ(deeper.size() + 7, 260u);
  fs::create_directory(deeper);
  platform::test::set_appdata_folder(deeper.c_str());
  EXPECT_EQ(create("n"), 1);
  for (const auto& entry : fs::directory_iterator(deeper)) ADD_FAILURE() << entry.path();
}

TEST_F(UserFiles, FormattedNames) {
  FILE* f = nullptr;
  ASSERT_EQ(core::open_user_file_fmt(&f, "wb", "network_%d_%s", 1, "game.exe"), 0);
  std::fclose(f);
  EXPECT_TRUE(fs::exists(ostrel() + "/network_1_game.exe"));

  const std::string name99(99, 'm');
  ASSERT_EQ(core::open_user_file_fmt(&f, "wb", "%s", name99.c_str()), 0);
  std::fclose(f);
  f = reinterpret_cast<FILE*>(1);
  EXPECT_EQ(core::open_user_file_fmt(&f, "wb", "%s%s", name99.c_str(), "m"), 1);
  EXPECT_EQ(f, nullptr);
  EXPECT_EQ(core::open_user_file_fmt(&f, "wb", "%s", ""), 1);
  EXPECT_FALSE(fs::exists(ostrel() + "/" + name99 + "m"));
}

}  // namespace
