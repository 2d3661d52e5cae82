// The log file and the settings file through the DLL's own C runtime under
// Wine: the log is appended in binary ("\r\n" stays as written, earlier bytes
// stay untouched), the settings file is read in text mode (CRLF lines, and a
// Ctrl-Z ends the file).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "base/text.h"
#include "core/log.h"
#include "core/process_state.h"
#include "core/settings_file.h"
#include "redirect/redirection_table.h"

namespace {

std::string read_all(const std::string& path) {
  std::string out;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (f == INVALID_HANDLE_VALUE) return out;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
  CloseHandle(f);
  return out;
}

void write_all(const std::string& path, const std::string& bytes) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(f);
}

uint32_t network_order(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A fresh working folder for the test, left again afterwards.
class TextFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "ostrel_text_files_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder_.c_str(), nullptr);
    CreateDirectoryA((folder_ + "\\logs").c_str(), nullptr);
    CreateDirectoryA((folder_ + "\\logs\\ostrel").c_str(), nullptr);
    GetCurrentDirectoryA(MAX_PATH, previous_);
    SetCurrentDirectoryA(folder_.c_str());
    core::process.host_executable_name[0] = '\0';
  }
  void TearDown() override {
    SetCurrentDirectoryA(previous_);
    WIN32_FIND_DATAA found;
    const std::string logs = folder_ + "\\logs\\ostrel\\";
    HANDLE h = FindFirstFileA((logs + "*.log").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
      do DeleteFileA((logs + found.cFileName).c_str());
      while (FindNextFileA(h, &found));
      FindClose(h);
    }
    DeleteFileA((folder_ + "\\ostrel_text.cfg").c_str());
    RemoveDirectoryA((folder_ + "\\logs\\ostrel").c_str());
    RemoveDirectoryA((folder_ + "\\logs").c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  std::string folder_;
  char previous_[MAX_PATH] = {};
};

TEST_F(TextFiles, LogLinesAreAppendedAsBinary) {
  char name[core::log_file_name_size];
  ASSERT_GT(core::log_file_name(name, sizeof name, static_cast<uint32_t>(time(nullptr))), 0);
  std::string path = name;
  for (char& c : path)
    if (c == '/') c = '\\';
  const std::string earlier = "earlier line\nwith a bare LF\r\n";
  write_all(path, earlier);

  core::log_reset();
  ASSERT_EQ(core::log_printf("first %d\r\n", 1), 0);
  ASSERT_EQ(core::log_printf("second\r\n"), 0);
  const std::string bytes = read_all(path);
  ASSERT_EQ(bytes.compare(0, earlier.size(), earlier), 0) << "what was there stays as it was";
  const std::string added = bytes.substr(earlier.size());
  EXPECT_EQ(added.find("\r\r\n"), std::string::npos) << "no CR added in front of the CR LF";
  EXPECT_EQ(added.rfind("--- Log started: ", 0), 0u);
  int lines = 0;
  for (size_t i = 0; i < added.size(); ++i)
    if (added[i] == '\n') {
      ++lines;
      EXPECT_TRUE(i > 0 && added[i - 1] == '\r');
    }
  EXPECT_EQ(lines, 3);
  EXPECT_NE(added.find("> first 1\r\n"), std::string::npos);
  EXPECT_TRUE(ends_with(added, "> second\r\n"));
}

TEST_F(TextFiles, SettingsFileIsReadInTextMode) {
  text::copy_bounded(core::process.settings_file_name, sizeof core::process.settings_file_name,
                     "ostrel_text.cfg");
  write_all(folder_ + "\\ostrel_text.cfg",
            "bf2web=hosts\r\ngsqr_mstr = 10.1.2.3:27900\r\n\x1Agsqr_key=10.9.9.9:29910\r\n");
  redirect::redirection_reset();
  core::settings_set_handler(redirect::redirection_entry);
  core::settings_forget_last_attempt();
  ASSERT_EQ(core::settings_reload(), 0);
  EXPECT_EQ(redirect::stats_resolver_flag(), 1);
  EXPECT_EQ(redirect::master_forward().address, network_order(10, 1, 2, 3));
  uint8_t port[2];
  const uint16_t port_field = redirect::master_forward().port;
  std::memcpy(port, &port_field, 2);
  EXPECT_EQ(port[0], 0x6C);  // 27900, network byte order
  EXPECT_EQ(port[1], 0xFC);
  EXPECT_EQ(redirect::key_forward().port, 0) << "the Ctrl-Z ended the file";
  redirect::redirection_reset();
}

}  // namespace
