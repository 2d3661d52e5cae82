// The file calls that the statistics queue folder stands on, through the
// Windows platform layer: a new file is created only where no file is, and
// whole; an exclusive move fails onto a name that exists and leaves both files
// as they were; a durable replace does replace; a folder lists its entries.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

std::string read_all(const std::string& path) {
  std::string out;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (f == INVALID_HANDLE_VALUE) return "<absent>";
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
  CloseHandle(f);
  return out;
}

class DurableFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    folder_ = std::string(temp) + "ostrel-durable-" + std::to_string(GetCurrentProcessId());
    platform::create_folder(folder_.c_str());
  }
  void TearDown() override {
    for (const char* name : {"a", "b", "c"}) DeleteFileA(path(name).c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  std::string path(const char* name) const { return folder_ + "\\" + name; }
  std::string folder_;
};

TEST_F(DurableFiles, NamesAreClaimedOnceAndBytesLandWhole) {
  const std::string a = path("a"), b = path("b"), c = path("c");
  ASSERT_EQ(platform::write_new_file(a.c_str(), "first", 5), 0);
  EXPECT_EQ(platform::write_new_file(a.c_str(), "again", 5), 1) << "the name is taken";
  EXPECT_EQ(read_all(a), "first");
  ASSERT_EQ(platform::write_new_file(b.c_str(), "second", 6), 0);

  EXPECT_EQ(platform::move_file_exclusive(a.c_str(), b.c_str()), 1) << "onto a name that exists";
  EXPECT_EQ(read_all(a), "first");
  EXPECT_EQ(read_all(b), "second");
  EXPECT_EQ(platform::move_file_exclusive(a.c_str(), c.c_str()), 0);
  EXPECT_EQ(read_all(a), "<absent>");
  EXPECT_EQ(read_all(c), "first");
  EXPECT_EQ(platform::move_file_exclusive(a.c_str(), c.c_str()), 1) << "from a name that is gone";

  EXPECT_EQ(platform::replace_file_durable(c.c_str(), b.c_str()), 0);
  EXPECT_EQ(read_all(b), "first");
  EXPECT_EQ(read_all(c), "<absent>");

  std::vector<std::string> names;
  ASSERT_EQ(platform::list_folder(
                folder_.c_str(),
                [](const char* name, bool is_folder, void* into) {
                  if (!is_folder) static_cast<std::vector<std::string>*>(into)->push_back(name);
                },
                &names),
            0);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, std::vector<std::string>{"b"});
  EXPECT_EQ(platform::list_folder((folder_ + "\\absent").c_str(),
                                  [](const char*, bool, void*) {}, nullptr),
            1);
}

}  // namespace
