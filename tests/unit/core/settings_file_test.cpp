// The settings file: the line rules, files with broken or hostile content,
// line pieces at the 1000-byte buffer, and the 10-second reading cadence.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/process_state.h"
#include "core/settings_file.h"
#include "base/text.h"
#include "platform/native/test_controls.h"
#include "redirect/redirection_table.h"
#include "working_folder.h"

namespace {

using pair_list = std::vector<std::pair<std::string, std::string>>;

pair_list handed;
int record_pair(const char* key, char* value) {
  handed.emplace_back(key, value);
  return 0;
}

pair_list read_bytes(const std::string& bytes) {
  handed.clear();
  FILE* file = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  core::settings_read_stream(file, record_pair);
  std::fclose(file);
  return handed;
}

TEST(SettingsLine, CutsKeyAndValue) {
  const struct {
    const char* line;
    bool pair;
    const char* key;
    const char* value;
  } cases[] = {
      {"gsqr_mstr = 10.0.0.1:1234\n", true, "gsqr_mstr", "10.0.0.1:1234"},
      {"gsqr_mstr=10.0.0.1:1234   \n", true, "gsqr_mstr", "10.0.0.1:1234"},
      {"gsqr_key\t=\tx y  \n", true, "gsqr_key", "x y"},
      {"  \tbf2web=hosts\r\n", true, "bf2web", "hosts"},
      {"k =  spaced  inside \t\r\n", true, "k", "spaced  inside"},
      {"k=a=b\n", true, "k", "a=b"},
      {"k=value\rrest\n", true, "k", "value"},
      {"k=v", true, "k", "v"},
      {"a b=c\n", true, "a", "c"},
      {"=v\n", true, "", "v"},
      {"k=\n", true, "k", ""},
      {"bf2web x\n", true, "bf2web", ""},
      {"bf2web\n", true, "bf2web\n", ""},  // no '=' and no blank: the key keeps its line end
      {"  # comment\n", false, "", ""},
      {"#k=v\n", false, "", ""},
      {" \t  \n", false, "", ""},
      {"\r\n", false, "", ""},
      {"", false, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    char line[core::settings_line_size];
    text::copy_bounded(line, sizeof line, c.line);
    char* key = nullptr;
    char* value = nullptr;
    ASSERT_EQ(core::settings_parse_line(line, &key, &value), c.pair ? 0 : 1);
    if (!c.pair) continue;
    EXPECT_STREQ(key, c.key);
    EXPECT_STREQ(value, c.value);
  }
}

TEST(SettingsStream, HandsPairsInFileOrder) {
  EXPECT_EQ(read_bytes("# settings\r\nbf2web = hosts\r\n\r\ngsqr_key=1.2.3.4:5\r\nbf2web=lookup:x"),
            (pair_list{{"bf2web", "hosts"}, {"gsqr_key", "1.2.3.4:5"}, {"bf2web", "lookup:x"}}));
  EXPECT_TRUE(read_bytes("").empty());
}

TEST(SettingsStream, BrokenContentIsReadSafely) {
  // A NUL ends the text of its line; the next line is read as usual.
  EXPECT_EQ(read_bytes(std::string("bf2web=hosts\0gsqr_key=9.9.9.9:9\nk=v\n", 36)),
            (pair_list{{"bf2web", "hosts"}, {"k", "v"}}));
  EXPECT_EQ(read_bytes(std::string("\0k=v\nk2=v2\n", 11)), (pair_list{{"k2", "v2"}}));
  // Other bytes are plain characters of the key or value they fall in.
  EXPECT_EQ(read_bytes("\xff\xfe\x01=\x80\x7f\nk=v\n"),
            (pair_list{{"\xff\xfe\x01", "\x80\x7f"}, {"k", "v"}}));
}

TEST(SettingsStream, LongLinesArriveInPieces) {
  const std::string x997(997, 'x');
  // 999 characters fill the buffer; the line end then arrives as a blank piece.
  EXPECT_EQ(read_bytes("k=" + x997 + "\nnext=1\n"), (pair_list{{"k", x997}, {"next", "1"}}));
  // 1000 characters: the last one becomes a line of its own.
  EXPECT_EQ(read_bytes("k=" + x997 + "y\nnext=1\n"),
            (pair_list{{"k", x997}, {"y\n", ""}, {"next", "1"}}));
  // A piece is a line: text after 999 characters of comment is read as a setting.
  EXPECT_EQ(read_bytes("#" + std::string(998, 'c') + "bf2web=hosts\n"),
            (pair_list{{"bf2web", "hosts"}}));
  // 5000 characters: six pieces, and the following line is still read whole.
  pair_list pairs = read_bytes("k=" + std::string(4998, 'x') + "\nnext=1");
  ASSERT_EQ(pairs.size(), 7u);
  EXPECT_EQ(pairs[0], (std::pair<std::string, std::string>{"k", x997}));
  EXPECT_EQ(pairs[5].first, "xxxxx\n");
  EXPECT_EQ(pairs[6], (std::pair<std::string, std::string>{"next", "1"}));
}

class SettingsReload : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_name_ = core::process.settings_file_name;
    text::copy_bounded(core::process.settings_file_name, sizeof core::process.settings_file_name,
                       "ostrel_game.exe.cfg");
    platform::test::set_clock(1700000000);
    core::settings_forget_last_attempt();
    core::settings_set_handler(redirect::redirection_entry);
    redirect::redirection_reset();
  }
  void TearDown() override {
    text::copy_bounded(core::process.settings_file_name, sizeof core::process.settings_file_name,
                       saved_name_.c_str());
    platform::test::use_real_clock();
    core::settings_forget_last_attempt();
    redirect::redirection_reset();
  }
  static void write_settings(const std::string& text) {
    working_folder::write("ostrel_game.exe.cfg", text);
  }
  working_folder folder_;
  std::string saved_name_;
};

TEST_F(SettingsReload, ReadsAtMostEveryTenSeconds) {
  write_settings("bf2web = hosts\n");
  EXPECT_EQ(core::settings_reload(), 0);
  EXPECT_EQ(redirect::stats_resolver_flag(), 1);

  write_settings("bf2web = lookup:stats.example.test\n");
  platform::test::advance_monotonic(9000);
  EXPECT_EQ(core::settings_reload(), 1);
  EXPECT_EQ(redirect::stats_resolver_flag(), 1);

  // The spacing is on the monotonic clock: a date set back an hour does not
  // hold the file off.
  platform::test::set_clock(1700000000 - 3600);
  platform::test::advance_monotonic(1000);
  EXPECT_EQ(core::settings_reload(), 0);
  EXPECT_EQ(redirect::stats_resolver_flag(), 0);
  char name[redirect::stats_name_size];
  redirect::stats_lookup_name(name);
  EXPECT_STREQ(name, "stats.example.test");
}

TEST_F(SettingsReload, MissingFileIsRetriedOnTheSameCadence) {
  EXPECT_EQ(core::settings_reload(), 1);
  write_settings("gsqr_mstr=192.0.2.7:27900\n");
  platform::test::advance_monotonic(9000);
  EXPECT_EQ(core::settings_reload(), 1);
  EXPECT_EQ(redirect::master_forward().port, 0);
  platform::test::advance_monotonic(1000);
  EXPECT_EQ(core::settings_reload(), 0);
  EXPECT_NE(redirect::master_forward().port, 0);
  // A file that goes away leaves what it said in force.
  std::remove("ostrel_game.exe.cfg");
  platform::test::advance_monotonic(10000);
  EXPECT_EQ(core::settings_reload(), 1);
  EXPECT_NE(redirect::master_forward().port, 0);
}

TEST_F(SettingsReload, ThreadsAskingTogetherReadOnce) {
  write_settings("bf2web = hosts\n");
  constexpr int thread_count = 8;
  std::atomic<int> go{0}, reads{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < thread_count; ++i)
    threads.emplace_back([&] {
      while (!go) std::this_thread::yield();
      if (core::settings_reload() == 0) ++reads;
    });
  go = 1;
  for (auto& t : threads) t.join();
  EXPECT_EQ(reads.load(), 1);
}

}  // namespace
