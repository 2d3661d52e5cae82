// The log: daily file names, the banner once per process, line prefixes, and
// the "HLD1" echo as the reference log collector receives it on 127.0.0.1:29951.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/bytes.h"
#include "core/log.h"
#include "core/log_echo.h"
#include "core/process_state.h"
#include "platform/native/test_controls.h"
#include "platform/net.h"
#include "service/log_collector.h"
#include "working_folder.h"

namespace {

constexpr uint32_t leap_day_evening = 1709251198;  // 2024-02-29 23:59:58 UTC

std::string pid_text() { return "(" + std::to_string(::getpid()) + ") "; }

class Log : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_name_ = core::process.host_executable_name;
    set_host_name("");
    std::filesystem::create_directories("logs/ostrel");
    platform::test::set_clock(leap_day_evening);
    core::log_reset();
  }
  void TearDown() override {
    core::log_reset();
    platform::test::use_real_clock();
    set_host_name(saved_name_.c_str());
  }
  static void set_host_name(const char* name) {
    text::copy_bounded(core::process.host_executable_name,
                       sizeof core::process.host_executable_name, name);
  }
  working_folder folder_;
  std::string saved_name_;
};

TEST_F(Log, DailyFileNames) {
  const struct {
    const char* host;
    uint32_t seconds;
    const char* name;
  } cases[] = {
      {"", leap_day_evening, "logs/ostrel/2024-02-29.log"},
      {"BF2.exe", leap_day_evening, "logs/ostrel/2024-02-29_BF2.exe.log"},
      {"BF2.exe", leap_day_evening + 2, "logs/ostrel/2024-03-01_BF2.exe.log"},
      {"a_nineteen_char.exe", 0, "logs/ostrel/1970-01-01_a_nineteen_char.exe.log"},
  };
  for (const auto& c : cases) {
    set_host_name(c.host);
    char name[core::log_file_name_size];
    EXPECT_GT(core::log_file_name(name, sizeof name, c.seconds), 0);
    EXPECT_STREQ(name, c.name);
  }
}

TEST_F(Log, BannerOncePerProcessThenPrefixedLines) {
  EXPECT_EQ(core::log_printf("first %d\r\n", 1), 0);
  platform::test::advance_clock(1);
  EXPECT_EQ(core::log_printf("%s\r\n", "second 100% %n"), 0);
  EXPECT_EQ(working_folder::read("logs/ostrel/2024-02-29.log"),
            "--- Log started: 2024-02-29 23:59:58 ---\r\n" + pid_text() + "23:59:58 > first 1\r\n" +
                pid_text() + "23:59:59 > second 100% %n\r\n");
  // After midnight UTC the next day's file begins, without a second banner.
  platform::test::advance_clock(1);
  EXPECT_EQ(core::log_printf("third\r\n"), 0);
  EXPECT_EQ(working_folder::read("logs/ostrel/2024-03-01.log"), pid_text() + "00:00:00 > third\r\n");
}

TEST_F(Log, MissingFolderLosesTheLineAndKeepsTheBanner) {
  std::filesystem::remove_all("logs");
  EXPECT_EQ(core::log_printf("lost\r\n"), 1);
  EXPECT_FALSE(std::filesystem::exists("logs"));  // never created by the library
  std::filesystem::create_directories("logs/ostrel");
  EXPECT_EQ(core::log_printf("kept\r\n"), 0);
  EXPECT_EQ(working_folder::read("logs/ostrel/2024-02-29.log"),
            "--- Log started: 2024-02-29 23:59:58 ---\r\n" + pid_text() + "23:59:58 > kept\r\n");
}

TEST_F(Log, LongTextGoesToTheFileWhole) {
  const std::string long_text(5000, 'L');
  EXPECT_EQ(core::log_printf("%s", long_text.c_str()), 0);
  std::string file = working_folder::read("logs/ostrel/2024-02-29.log");
  EXPECT_EQ(file.substr(file.size() - long_text.size() - 3), " > " + long_text);
}

// The sequence number is 16 bits wide: 65535 is followed by 0, then 1.
TEST_F(Log, EchoSequenceWrapsAt65536) {
  core::log_echo_setup(1, htonl(INADDR_LOOPBACK));
  core::echo_datagram datagram;
  std::vector<uint16_t> seen;
  core::log_lock_hold();
  for (uint32_t i = 1; i <= 65537; ++i) {
    if (!core::echo_prepare(leap_day_evening, "x", 1, datagram)) break;
    if (i >= 65535) seen.push_back(bytes::load_u16le(datagram.bytes + core::echo_sequence));
  }
  core::log_lock_release();
  EXPECT_EQ(seen, (std::vector<uint16_t>{65535, 0, 1}));
}

// The echo goes to a fixed port, which the test platform sends on to the
// collector's port of its own.
class LogEcho : public Log {
 protected:
  void SetUp() override {
    Log::SetUp();
    std::string error;
    ASSERT_TRUE(collector_.start(&error)) << error;
    platform::test::map_send_port(core::log_echo_port, collector_.port());
  }
  void TearDown() override {
    platform::test::map_send_port(core::log_echo_port, 0);
    collector_.stop();
    Log::TearDown();
  }
  // Logs a line that is echoed, so that everything sent before it has arrived,
  // and returns what came before it (the collector starts afresh).
  std::vector<service::log_record> settle() {
    core::log_printf("settle\r\n");
    std::vector<service::log_record> got;
    for (size_t n = 1;; ++n) {
      if (!collector_.wait_for(n, 5000)) {
        ADD_FAILURE() << "the echoed line did not arrive";
        return got;
      }
      got = collector_.records();
      if (got[n - 1].text == "settle\r\n") break;
    }
    got.pop_back();
    collector_.clear();
    return got;
  }
  const uint32_t loopback_ = htonl(INADDR_LOOPBACK);
  service::log_collector collector_{0, "127.0.0.1"};
};

TEST_F(LogEcho, NothingBeforeSetUpThenNumberedLines) {
  core::log_printf("before set-up\r\n");
  core::log_echo_setup(16567, loopback_);
  platform::test::advance_clock(5);
  core::log_printf("one\r\n");
  core::log_printf("two %d\r\n", 2);
  std::vector<service::log_record> got = settle();
  ASSERT_EQ(got.size(), 2u);
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].sequence, i + 1);
    EXPECT_EQ(got[i].setup_value, 16567);
    EXPECT_EQ(got[i].setup_time, leap_day_evening);
    EXPECT_EQ(got[i].send_time, leap_day_evening + 5);
    EXPECT_EQ(got[i].pid, static_cast<uint32_t>(::getpid()) & 0xFFFFu);
    EXPECT_EQ(got[i].from_address, loopback_);
  }
  EXPECT_EQ(got[0].text, "one\r\n");
  EXPECT_EQ(got[1].text, "two 2\r\n");
}

TEST_F(LogEcho, TextsThatFitAreEchoedAsFormatted) {
  core::log_echo_setup(1, loopback_);
  core::log_printf("%s", std::string(479, 'a').c_str());
  core::log_printf("%s", std::string(480, 'b').c_str());  // too long: file only
  core::log_printf("%s", "");                             // empty: nothing to echo
  core::log_printf("%s\r\n", "100% %s%n");                // outside text stays text
  std::vector<service::log_record> got = settle();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].text, std::string(479, 'a'));
  EXPECT_EQ(got[1].text, "100% %s%n\r\n");
  EXPECT_EQ(got[1].sequence, 2);
}

TEST_F(LogEcho, SetUpAgainRestartsNumberingAndKeepsTheAddress) {
  core::log_echo_setup(16567, loopback_);
  core::log_printf("a\r\n");
  platform::test::advance_clock(60);
  core::log_echo_setup(7, 0);  // address 0: the earlier destination stays
  core::log_printf("b\r\n");
  std::vector<service::log_record> got = settle();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].text, "b\r\n");
  EXPECT_EQ(got[1].sequence, 1);
  EXPECT_EQ(got[1].setup_value, 7);
  EXPECT_EQ(got[1].setup_time, leap_day_evening + 60);

  // A set-up value of 0 turns the echo off.
  core::log_echo_setup(0, loopback_);
  core::log_printf("off\r\n");
  core::log_echo_setup(7, 0);
  EXPECT_TRUE(settle().empty());
}

TEST_F(LogEcho, SetUpThatNeverNamedAnAddressSendsNothing) {
  core::log_echo_setup(16567, 0);
  core::log_printf("nowhere\r\n");
  core::log_echo_setup(16567, loopback_);
  EXPECT_TRUE(settle().empty());
}

TEST_F(LogEcho, FileWithoutItsFolderStillEchoes) {
  std::filesystem::remove_all("logs");
  core::log_echo_setup(5, loopback_);
  EXPECT_EQ(core::log_printf("no file\r\n"), 1);
  std::vector<service::log_record> got = settle();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].text, "no file\r\n");
}

// The echo socket as the next line would use it (made now if there is none).
platform::socket_handle echo_socket_now() {
  core::echo_datagram d;
  core::log_lock_hold();
  const bool built = core::echo_prepare(leap_day_evening, "x", 1, d);
  core::log_lock_release();
  return built ? d.socket : platform::invalid_socket;
}

// The host may shut the socket library down under the echo (and start it
// again): a send that finds the handle gone drops it unclosed, and the next
// line gets a new socket.  Any other failure keeps it.
TEST_F(LogEcho, SocketWhoseHandleIsGoneIsReplacedOnTheNextLine) {
  using fault = platform::test::socket_fault;
  const struct {
    fault kind;
    bool replaced;
  } cases[] = {{fault::not_initialised, true}, {fault::not_a_socket, true}, {fault::other, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    core::log_echo_setup(3, loopback_);
    const platform::socket_handle first = echo_socket_now();
    ASSERT_NE(first, platform::invalid_socket);
    platform::test::set_socket_fault(first, c.kind);
    core::log_printf("lost\r\n");
    platform::test::clear_socket_faults();
    core::log_printf("after\r\n");
    std::vector<service::log_record> got = settle();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text, "after\r\n");
    const platform::socket_handle now = echo_socket_now();
    EXPECT_EQ(now != first, c.replaced);
    if (now != first) platform::socket_close(first);  // natively the handle still lives
  }
}

// Lines from several threads never interleave, and every datagram gets a
// sequence number of its own.
TEST_F(LogEcho, ThreadsLogWholeLines) {
  core::log_echo_setup(9, loopback_);
  constexpr int threads = 4, lines = 50;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([t] {
      for (int i = 0; i < lines; ++i) core::log_printf("thread %d line %d of the test\r\n", t, i);
    });
  for (auto& w : workers) w.join();
  ASSERT_TRUE(collector_.wait_for(threads * lines, 10000));

  std::istringstream file(working_folder::read("logs/ostrel/2024-02-29.log"));
  std::string line;
  std::getline(file, line);
  EXPECT_EQ(line, "--- Log started: 2024-02-29 23:59:58 ---\r");
  const std::regex shape(R"(\(\d+\) 23:59:58 > thread \d line \d+ of the test\r)");
  int count = 0;
  while (std::getline(file, line)) {
    EXPECT_TRUE(std::regex_match(line, shape)) << line;
    ++count;
  }
  EXPECT_EQ(count, threads * lines);

  std::set<uint16_t> sequences;
  for (const auto& r : collector_.records()) sequences.insert(r.sequence);
  EXPECT_EQ(sequences.size(), static_cast<size_t>(threads * lines));
  EXPECT_EQ(*sequences.begin(), 1);
  EXPECT_EQ(*sequences.rbegin(), threads * lines);
}

}  // namespace
