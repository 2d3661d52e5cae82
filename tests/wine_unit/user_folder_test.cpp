// The per-user folder under Wine: "<roaming application data>\Ostrel" is made
// on first use, and a drive-qualified name is opened as given.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "core/user_files.h"

namespace {

std::string roaming() {
  char path[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, path);
  return path;
}

bool is_folder(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool is_file(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

class UserFolder : public ::testing::Test {
 protected:
  void SetUp() override { remove_folder(); }
  void TearDown() override { remove_folder(); }
  void remove_folder() {
    for (const char* name : {"probe", "network_1_game.exe"}) DeleteFileA((folder_ + "\\" + name).c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  const std::string folder_ = roaming() + "\\Ostrel";
};

TEST_F(UserFolder, MadeOnFirstUse) {
  ASSERT_FALSE(roaming().empty());
  ASSERT_FALSE(is_folder(folder_)) << "left over from another run: " << folder_;
  FILE* f = nullptr;
  ASSERT_EQ(core::open_user_file(&f, "probe", "wb"), 0);
  std::fputs("x", f);
  std::fclose(f);
  EXPECT_TRUE(is_file(folder_ + "\\probe"));
  ASSERT_EQ(core::open_user_file_fmt(&f, "wb", "network_%d_%s", 1, "game.exe"), 0);
  std::fclose(f);
  EXPECT_TRUE(is_file(folder_ + "\\network_1_game.exe"));
}

TEST_F(UserFolder, DriveQualifiedNameIsOpenedAsGiven) {
  char temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  std::string path = std::string(temp) + "ostrel-user-files-probe";
  FILE* f = nullptr;
  ASSERT_EQ(core::open_user_file(&f, path.c_str(), "wb"), 0);
  std::fclose(f);
  EXPECT_TRUE(is_file(path));
  EXPECT_FALSE(is_folder(folder_));
  DeleteFileA(path.c_str());
}

}  // namespace
