// The launcher hand-over with a real second process: hostsim.exe (the copy
// linked to WS2_32 itself) plays the launcher, writes its own record and stays
// alive until told to exit.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/launcher.h"
#include "product_key.h"

namespace {

// hostsim.exe: OSTREL_HOSTSIM when set, else the DLL build's own copy,
// <build>/hostsim_plain/hostsim.exe, two folders above this test program.
std::string hostsim_path() {
  if (const char* env = std::getenv("OSTREL_HOSTSIM"); env && *env) return env;
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path = self;
  for (int up = 0; up < 3; ++up) path = path.substr(0, path.find_last_of("\\/"));
  return path + "\\hostsim_plain\\hostsim.exe";
}

class child_process {
 public:
  ~child_process() { stop(); }

  bool start(const std::string& program) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE child_in = nullptr, child_out = nullptr;
    if (!CreatePipe(&child_in, &to_child_, &inherit, 0)) return false;
    if (!CreatePipe(&from_child_, &child_out, &inherit, 0)) return false;
    SetHandleInformation(to_child_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(from_child_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = child_in;
    si.hStdOutput = child_out;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    std::string command = "\"" + program + "\"";
    BOOL ok = CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                             nullptr, &si, &pi);
    CloseHandle(child_in);
    CloseHandle(child_out);
    if (!ok) return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    return read_line() == "ok ready";
  }

  std::string command(const std::string& line) {
    std::string text = line + "\n";
    DWORD written = 0;
    if (!WriteFile(to_child_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
      return "";
    return read_line();
  }

  // Tells the child to exit and waits until it has; its process handle stays
  // open, so the exited process can still be opened by id.
  bool exit_and_wait() {
    if (!process_) return true;
    command("exit");
    return WaitForSingleObject(process_, 20000) == WAIT_OBJECT_0;
  }

  // As exit_and_wait, then lets go of the process.
  bool finish() {
    bool ended = exit_and_wait();
    stop();
    return ended;
  }

 private:
  std::string read_line() {
    std::string line;
    char c;
    DWORD n = 0;
    while (ReadFile(from_child_, &c, 1, &n, nullptr) && n == 1 && c != '\n') line += c;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  void stop() {
    if (process_) {
      if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
      CloseHandle(process_);
      process_ = nullptr;
    }
    for (HANDLE* h : {&to_child_, &from_child_})
      if (*h) {
        CloseHandle(*h);
        *h = nullptr;
      }
  }
  HANDLE process_ = nullptr;
  HANDLE to_child_ = nullptr;
  HANDLE from_child_ = nullptr;
};

std::vector<uint8_t> from_hex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

void set_record(const std::vector<uint8_t>& record) {
  ASSERT_TRUE(wine_test::set_value(HKEY_CURRENT_USER, "client_opvdata", REG_BINARY, record.data(),
                                   static_cast<DWORD>(record.size())));
}

class LauncherHandOver : public ::testing::Test {
 protected:
  void SetUp() override { wine_test::delete_product_key(HKEY_CURRENT_USER); }
  void TearDown() override { wine_test::delete_product_key(HKEY_CURRENT_USER); }
};

TEST_F(LauncherHandOver, RecordCountsWhileTheLauncherRuns) {
  EXPECT_EQ(core::launcher_handshake(), 1);  // no product key: no launcher

  child_process launcher;
  ASSERT_TRUE(launcher.start(hostsim_path())) << hostsim_path();
  std::string answer = launcher.command("launcher 1 a0a1a2a3a4a5a6a7");
  ASSERT_EQ(answer.rfind("ok ", 0), 0u) << answer;
  const std::vector<uint8_t> record = from_hex(answer.substr(answer.find_last_of(' ') + 1));
  ASSERT_EQ(record.size(), 32u);
  EXPECT_EQ(core::launcher_handshake(), 1);

  std::vector<uint8_t> short_record(record.begin(), record.end() - 1);
  std::vector<uint8_t> long_record = record;
  long_record.push_back(0);
  set_record(short_record);
  EXPECT_EQ(core::launcher_handshake(), 0) << "31 bytes";
  set_record(long_record);
  EXPECT_EQ(core::launcher_handshake(), 0) << "33 bytes";
  set_record(record);
  EXPECT_EQ(core::launcher_handshake(), 1);

  ASSERT_TRUE(wine_test::set_dword(HKEY_CURRENT_USER, "client_opmode", 0));
  EXPECT_EQ(core::launcher_handshake(), 0);
  ASSERT_TRUE(wine_test::set_dword(HKEY_CURRENT_USER, "client_opmode", 2));
  EXPECT_EQ(core::launcher_handshake(), 1);
  ASSERT_TRUE(wine_test::set_dword(HKEY_CURRENT_USER, "client_opmode", 1));

  // The same record once its launcher has exited: first while a handle to the
  // exited process is still held somewhere, then when none is.
  ASSERT_TRUE(launcher.exit_and_wait());
  EXPECT_EQ(core::launcher_handshake(), 0);
  ASSERT_TRUE(launcher.finish());
  EXPECT_EQ(core::launcher_handshake(), 0);
}

}  // namespace
