// The name hook: name keys, the suffix swap, the ranking host selection, the
// answer block's layout, and each step of a look-up with a fake real resolver
// that records which names reach it.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/spacing.h"
#include "library/startup.h"
#include "platform/native/test_controls.h"
#include "redirect/host_entry.h"
#include "redirect/host_rewrite.h"
#include "redirect/name_hook.h"
#include "redirect/name_key.h"
#include "redirect_fixture.h"

namespace {

using platform::registry_root;
using redirect_test::ip;

std::mutex real_guard;
std::vector<std::string> real_names;
char real_marker;  // what the fake real resolver returns

void* fake_real(const char* name) {
  std::lock_guard<std::mutex> hold(real_guard);
  real_names.push_back(name ? name : "(null)");
  return &real_marker;
}

class NameHook : public redirect_test::redirect_fixture {
 protected:
  void SetUp() override {
    redirect_fixture::SetUp();
    real_names.clear();
    platform::test::set_real_gethostbyname(fake_real);
    // No exchange in these tests: the last refresh is "now".
    platform::test::set_clock(1800000000);
    redirect::last_refresh_time = spacing::stamp(platform::monotonic_ms());
  }
  // The names that reached the real resolver since the last call.
  std::vector<std::string> taken() {
    std::lock_guard<std::mutex> hold(real_guard);
    std::vector<std::string> out;
    out.swap(real_names);
    return out;
  }
  static void install(const std::vector<std::pair<std::string, std::vector<uint32_t>>>& names) {
    std::vector<std::pair<uint32_t, std::vector<uint32_t>>> table;
    for (const auto& [name, addresses] : names)
      table.emplace_back(redirect::name_key(name.c_str()), addresses);
    ASSERT_EQ(redirect_test::install_payload(service::payload_from_table(table).bytes()), 0);
  }
  static std::string answered_address(void* answer) {
    auto* h = static_cast<redirect::host_entry*>(answer);
    const auto* b = reinterpret_cast<const uint8_t*>(h->addresses[0]);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
  }
};

TEST(NameKey, FoldsTheDigestOfTheLowerCasedName) {
  EXPECT_EQ(redirect::name_key("abc"), 0x52A45F27u);
  EXPECT_EQ(redirect::name_key(deploy::retired_stats_web_host), redirect::stats_web_host_key);
  EXPECT_EQ(redirect::name_key(deploy::retired_stats_host), redirect::stats_host_key);
  EXPECT_EQ(redirect::name_key(deploy::retired_push_host), redirect::push_host_key);
  // Against OpenSSL, about the lengths where MD5's padding takes a second
  // block (56) and where the name is lower-cased a 64-byte block at a time.
  const std::string mixed = "Master.GS.Legacy.TEST-";
  for (size_t length : {0, 3, 55, 56, 63, 64, 65, 127, 128, 129, 200}) {
    std::string name;
    while (name.size() < length) name += mixed[name.size() % mixed.size()];
    EXPECT_EQ(redirect::name_key(name.c_str()), redirect_test::openssl_name_key(name)) << length;
  }
}

TEST(SuffixSwap, SwapsOnlyAnExactRetiredSuffixBehindSomething) {
  const std::string at63 = std::string(63 - 12, 'h') + ".legacy.test";
  const struct {
    std::string name, expected;
  } cases[] = {
      {".legacy.test", ".legacy.test"},  // 12 characters: nothing in front
      {"a.legacy.test", "a.relay.test"},
      {"master.gs.legacy.test", "master.gs.relay.test"},
      {"a.LEGACY.TEST", "a.LEGACY.TEST"},
      {"a.legacy.test.", "a.legacy.test."},
      {"a.legacy.tes", "a.legacy.tes"},
      {at63, std::string(51, 'h') + ".relay.test"},
      {"", ""},
  };
  for (const auto& c : cases) {
    char out[redirect::host_name_size];
    std::memset(out, 'x', sizeof out);
    redirect::suffix_swap(c.name.c_str(), out);
    EXPECT_EQ(std::string(out), c.expected) << c.name;
  }
}

TEST(AnswerBlock, LayoutFollowsTheTypes) {
  namespace at = redirect::answer_layout;
  EXPECT_EQ(at::address, sizeof(redirect::host_entry));
  EXPECT_EQ(at::address_list % alignof(char*), 0u);
  EXPECT_GE(at::address_list, at::address + 4);
  EXPECT_EQ(at::alias_list, at::address_list + sizeof(char*));
  EXPECT_EQ(at::name, at::alias_list + sizeof(char*));
  if (sizeof(char*) == 4) {  // 32-bit Windows: hostent's own offsets
    EXPECT_EQ(at::address, 16u);
    EXPECT_EQ(at::address_list, 20u);
    EXPECT_EQ(at::alias_list, 24u);
    EXPECT_EQ(at::name, 28u);
  }

  alignas(alignof(char*)) uint8_t block[redirect::answer_block_size + 8];
  std::memset(block, 0xCC, sizeof block);
  const std::string long_name(2000, 'n');
  redirect::host_entry* h = redirect::build_table_answer(block, long_name.c_str(), ip(1, 2, 3, 4));
  EXPECT_EQ(reinterpret_cast<uint8_t*>(h), block);
  EXPECT_EQ(h->address_type, 2);
  EXPECT_EQ(h->address_length, 4);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(h->addresses), block + at::address_list);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(h->addresses[0]), block + at::address);
  EXPECT_EQ(h->addresses[1], nullptr);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(h->aliases), block + at::alias_list);
  EXPECT_EQ(h->aliases[0], nullptr);
  EXPECT_EQ(std::memcmp(h->addresses[0], "\x01\x02\x03\x04", 4), 0);
  EXPECT_EQ(std::string(h->name), long_name.substr(0, at::name_capacity - 1)) << "cut to fit";
  for (size_t i = redirect::answer_block_size; i < sizeof block; ++i) EXPECT_EQ(block[i], 0xCC);
}

TEST_F(NameHook, TableAnswersCarryTheFirstAddressAndTheNameAsGiven) {
  install({{"master.legacy.test", {ip(10, 0, 0, 1), ip(10, 0, 0, 2)}}});
  void* answer = redirect::name_hook("Master.LEGACY.test");
  ASSERT_NE(answer, &real_marker);
  auto* h = static_cast<redirect::host_entry*>(answer);
  EXPECT_STREQ(h->name, "Master.LEGACY.test");
  EXPECT_EQ(answered_address(answer), "10.0.0.1");
  EXPECT_EQ(h->addresses[1], nullptr) << "one address only";
  EXPECT_EQ(h->aliases[0], nullptr);
  EXPECT_EQ(h->address_type, 2);
  EXPECT_EQ(h->address_length, 4);
  EXPECT_TRUE(taken().empty());
}

TEST_F(NameHook, AnswersShareTheThreadsBlockAndThreadsHaveTheirOwn) {
  install({{"one.legacy.test", {ip(10, 0, 0, 1)}}, {"two.legacy.test", {ip(10, 0, 0, 2)}}});
  void* first = redirect::name_hook("one.legacy.test");
  void* second = redirect::name_hook("two.legacy.test");
  EXPECT_EQ(first, second);
  EXPECT_STREQ(static_cast<redirect::host_entry*>(first)->name, "two.legacy.test");
  EXPECT_EQ(answered_address(first), "10.0.0.2");

  void* other = nullptr;
  std::thread t([&] {
    other = redirect::name_hook("one.legacy.test");
    EXPECT_EQ(answered_address(other), "10.0.0.1");
    redirect_test::release_thread_answer_block();
  });
  t.join();
  EXPECT_NE(other, first);
  EXPECT_EQ(answered_address(first), "10.0.0.2") << "untouched by the other thread";
}

// A host resolving on short-lived worker threads: each thread's block goes
// at its thread detach, so the blocks alive stay those of living threads.
TEST_F(NameHook, AThreadsBlockIsFreedAsTheThreadEnds) {
  install({{"one.legacy.test", {ip(10, 0, 0, 1)}}});
  ASSERT_NE(redirect::name_hook("one.legacy.test"), &real_marker);
  const long before = platform::test::thread_blocks_live();
  for (int i = 0; i < 50; ++i) {
    std::thread t([] {
      EXPECT_EQ(answered_address(redirect::name_hook("one.legacy.test")), "10.0.0.1");
      library::library_thread_detach();
      library::library_thread_detach();  // a second detach finds nothing to free
    });
    t.join();
  }
  EXPECT_EQ(platform::test::thread_blocks_live(), before);
  EXPECT_EQ(answered_address(redirect::name_hook("one.legacy.test")), "10.0.0.1")
      << "the calling thread keeps its own";
}

TEST_F(NameHook, WithoutAnAnswerBlockTheRealResolverAnswers) {
  install({{"one.legacy.test", {ip(10, 0, 0, 1)}}});
  redirect::answer_slot_release();  // no slot: no block can be kept
  EXPECT_EQ(redirect::name_hook("one.legacy.test"), &real_marker);
  EXPECT_EQ(taken(), std::vector<std::string>{"one.legacy.test"});
  redirect::answer_slot_allocate();
}

TEST_F(NameHook, NamesWithoutEntryReachTheRealResolver) {
  install({{"9lives.legacy.test", {ip(10, 0, 0, 9)}}});
  const std::string long_name = std::string(52, 'l') + ".legacy.test";  // 64 characters
  const struct {
    std::string name, reaches;
  } cases[] = {
      {"9lives.legacy.test", "9lives.legacy.test"},  // a digit first: never redirected
      {"10.0.0.1", "10.0.0.1"},
      {"www.legacy.test", "www.relay.test"},
      {"WWW.LEGACY.TEST", "WWW.LEGACY.TEST"},
      {"example.org", "example.org"},
      {long_name, long_name},
      {deploy::retired_push_host, deploy::replacement_push_host},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(redirect::name_hook(c.name.c_str()), &real_marker) << c.name;
    EXPECT_EQ(taken(), std::vector<std::string>{c.reaches}) << c.name;
  }
  install({{deploy::retired_push_host, {ip(10, 0, 0, 5)}}});
  EXPECT_EQ(answered_address(redirect::name_hook(deploy::retired_push_host)), "10.0.0.5");
}

TEST_F(NameHook, LauncherVerdictZeroSendsEverythingStraightThrough) {
  install({{"master.legacy.test", {ip(10, 0, 0, 1)}}});
  redirect::last_refresh_time = 0;  // a refresh would be due
  platform::test::registry_set_dword(registry_root::current_user, "client_opmode", 0);
  EXPECT_EQ(redirect::name_hook("master.legacy.test"), &real_marker);
  EXPECT_EQ(taken(), std::vector<std::string>{"master.legacy.test"});
  EXPECT_EQ(core::launcher_verdict.load(), 0);
  EXPECT_EQ(redirect::last_refresh_time.load(), 0u) << "no refresh attempted";

  // A dedicated server does not ask the launcher.
  core::process.operating_mode = core::mode_server;
  redirect::last_refresh_time = spacing::stamp(platform::monotonic_ms());
  EXPECT_EQ(answered_address(redirect::name_hook("master.legacy.test")), "10.0.0.1");
  platform::test::registry_set_dword(registry_root::current_user, "client_opmode", 2);
  core::process.operating_mode = core::mode_client;
  EXPECT_EQ(answered_address(redirect::name_hook("master.legacy.test")), "10.0.0.1");
  EXPECT_EQ(core::launcher_verdict.load(), 1);
}

TEST_F(NameHook, StatisticsWebHostFollowsTheRankingSelection) {
  const std::string custom63(63, 'c'), custom64(64, 'c');
  const struct {
    const char* value_name;  // nullptr: no value
    std::string value;
    std::string reaches;
  } cases[] = {
      {nullptr, "", deploy::ranking_host_official},
      {"rkgRetail", "ostrel", deploy::ranking_host_official},
      {"rkgRetail", "official;whatever", deploy::ranking_host_official},
      {"rkgRetail", "custom;1;stats.example.net;more", "stats.example.net"},
      {"rkgRetail", "custom;1;stats.example.net", "stats.example.net"},
      {"rkgRetail", "custom;2;stats.example.net;", deploy::ranking_host_official},
      {"rkgRetail", "custom;1;" + custom63 + ";", custom63},
      {"rkgRetail", "custom;1;" + custom64 + ";", deploy::ranking_host_official},
      {"rkgRetail", "custom;1;;", deploy::ranking_host_official},
      {"rkgRetail", "fmrcoop", deploy::ranking_host_fmrcoop},
      {"rkgRetail", "fmrcq", deploy::ranking_host_fmrcq},
      {"rkgRetail", "FMRCQ", deploy::ranking_host_official},
      {"rkgRetail", ";fmrcq", deploy::ranking_host_official},
      {"rkgRetail", "fmrcq" + std::string(99, ' '), deploy::ranking_host_official},  // too long
      {"rkgMods", "fmrcq", deploy::ranking_host_official},  // base game reads rkgRetail
      // A custom name that is the statistics web host itself ends at the real resolver.
      {"rkgRetail", std::string("custom;1;") + deploy::retired_stats_web_host,
       deploy::retired_stats_web_host},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    platform::test::registry_reset();
    if (c.value_name) platform::test::registry_set_string(registry_root::current_user, c.value_name, c.value);
    EXPECT_EQ(redirect::name_hook(deploy::retired_stats_web_host), &real_marker);
    EXPECT_EQ(taken(), std::vector<std::string>{c.reaches});
  }

  // A modification reads rkgMods instead.
  platform::test::registry_reset();
  platform::test::set_command_line("game.exe +modPath mods/othermod");
  platform::test::registry_set_string(registry_root::current_user, "rkgMods", "fmrcoop");
  platform::test::registry_set_string(registry_root::current_user, "rkgRetail", "fmrcq");
  redirect::name_hook(deploy::retired_stats_web_host);
  EXPECT_EQ(taken(), std::vector<std::string>{deploy::ranking_host_fmrcoop});

  // The chosen host is itself looked up in the table; the web host's own
  // entry is never used.
  install({{deploy::retired_stats_web_host, {ip(10, 0, 0, 1)}},
           {deploy::ranking_host_fmrcoop, {ip(10, 0, 0, 2)}}});
  void* answer = redirect::name_hook(deploy::retired_stats_web_host);
  ASSERT_NE(answer, &real_marker);
  EXPECT_STREQ(static_cast<redirect::host_entry*>(answer)->name, deploy::ranking_host_fmrcoop);
  EXPECT_EQ(answered_address(answer), "10.0.0.2");
}

TEST_F(NameHook, StatisticsWebHostFollowsTheSettingsFile) {
  install({{deploy::ranking_host_official, {ip(10, 0, 0, 3)}}});
  const struct {
    const char* line;
    std::string reaches;  // empty: answered from the table
  } cases[] = {
      {"bf2web = hosts\n", deploy::retired_stats_web_host},
      {"bf2web = lookup:stats.example.net\n", "stats.example.net"},
      {"bf2web = Hosts\n", ""},
      {"bf2web = lookup:\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    working_folder::write("ostrel.cfg", c.line);
    core::settings_forget_last_attempt();
    void* answer = redirect::name_hook(deploy::retired_stats_web_host);
    if (c.reaches.empty()) {
      ASSERT_NE(answer, &real_marker);
      EXPECT_EQ(answered_address(answer), "10.0.0.3");
      EXPECT_TRUE(taken().empty());
    } else {
      EXPECT_EQ(answer, &real_marker);
      EXPECT_EQ(taken(), std::vector<std::string>{c.reaches});
    }
  }
}

}  // namespace
