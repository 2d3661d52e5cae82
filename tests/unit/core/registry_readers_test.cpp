// Registry readers over the in-memory registry: accepted types and sizes, what
// counts as absent, which root wins, and splitting a value at its first word.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "core/registry_readers.h"
#include "platform/native/test_controls.h"

namespace {

using platform::registry_root;
namespace test = platform::test;

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { test::registry_reset(); }
  void TearDown() override { test::registry_reset(); }
};

TEST_F(Registry, ReadString) {
  const std::string s98(98, 's');
  const std::string s99(99, 't');
  const std::string s100(100, 'u');
  const struct {
    const char* name;
    registry_root root;
    uint32_t type;
    std::string data;  // the value's bytes, NULs included
    bool present;
    std::string expected;  // bytes up to and including the added terminator
  } cases[] = {
      {"plain", registry_root::current_user, platform::reg_sz, std::string("abc\0", 4), true,
       std::string("abc\0\0", 5)},
      {"98 characters and NUL", registry_root::current_user, platform::reg_sz, s98 + '\0', true,
       s98 + '\0' + '\0'},
      {"99 bytes without NUL", registry_root::current_user, platform::reg_sz, s99, true,
       s99 + '\0'},
      {"100 bytes", registry_root::current_user, platform::reg_sz, s100, false, ""},
      {"expandable", registry_root::current_user, platform::reg_expand_sz,
       std::string("%x%\0", 4), true, std::string("%x%\0\0", 5)},
      {"multi-string", registry_root::current_user, platform::reg_multi_sz,
       std::string("a\0b\0\0", 5), true, std::string("a\0b\0\0\0", 6)},
      {"empty", registry_root::current_user, platform::reg_sz, "", true, std::string("\0", 1)},
      {"number", registry_root::current_user, platform::reg_dword, std::string("\1\0\0\0", 4),
       false, ""},
      {"binary", registry_root::current_user, platform::reg_binary, "abc", false, ""},
      {"machine-wide only", registry_root::local_machine, platform::reg_sz,
       std::string("abc\0", 4), false, ""},
  };
  for (const auto& c : cases) {
    test::registry_reset();
    test::registry_create_product_key(registry_root::current_user);
    test::registry_set(c.root, "rkgRetail", c.type, c.data.data(),
                       static_cast<uint32_t>(c.data.size()));
    char out[110];
    std::memset(out, 'x', sizeof out);
    const int rc = core::registry_read_string("rkgRetail", out);
    if (c.present) {
      EXPECT_EQ(rc, 0) << c.name;
      EXPECT_EQ(std::string(out, c.expected.size()), c.expected) << c.name;
      EXPECT_EQ(out[c.expected.size()], 'x') << c.name;
    } else {
      EXPECT_EQ(rc, 1) << c.name;
      EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, 'x')) << c.name;
    }
  }

  test::registry_reset();
  char out[100] = "untouched";
  EXPECT_EQ(core::registry_read_string("rkgRetail", out), 1);  // no product key at all
  EXPECT_STREQ(out, "untouched");
}

TEST_F(Registry, ReadDword) {
  std::vector<uint8_t> big(4096, 0xEE);
  big[0] = 0x2A;
  big[1] = big[2] = big[3] = 0;
  const struct {
    const char* name;
    uint32_t type;
    std::vector<uint8_t> data;
    bool present;
    uint32_t expected;
  } cases[] = {
      {"number", platform::reg_dword, {0x78, 0x56, 0x34, 0x12}, true, 0x12345678},
      {"longer number", platform::reg_dword, {1, 0, 0, 0, 9, 9, 9, 9}, true, 1},
      {"number of 9 bytes", platform::reg_dword, {3, 0, 0, 0, 9, 9, 9, 9, 9}, true, 3},
      {"number of 4096 bytes", platform::reg_dword, big, true, 42},
      {"binary of 4096 bytes", platform::reg_binary, big, false, 0},
      {"short number", platform::reg_dword, {1, 0}, false, 0},
      {"wrong type", platform::reg_binary, {1, 0, 0, 0}, false, 0},
      {"text", platform::reg_sz, {'1', 0, 0, 0}, false, 0},
  };
  for (const auto& c : cases) {
    test::registry_set(registry_root::current_user, "client_opmode", c.type, c.data.data(),
                       static_cast<uint32_t>(c.data.size()));
    uint32_t by_root = 0xDEADBEEF, by_key = 0xDEADBEEF;
    const int rc = core::registry_read_dword(registry_root::current_user, "client_opmode", &by_root);
    platform::registry_key* key = platform::registry_open(registry_root::current_user);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(core::registry_read_dword(key, "client_opmode", &by_key), rc) << c.name;
    platform::registry_close(key);
    EXPECT_EQ(rc, c.present ? 0 : 1) << c.name;
    EXPECT_EQ(by_root, c.present ? c.expected : 0xDEADBEEF) << c.name;
    EXPECT_EQ(by_key, by_root) << c.name;
  }

  uint32_t out = 7;
  EXPECT_EQ(core::registry_read_dword(registry_root::current_user, "missing", &out), 1);
  EXPECT_EQ(core::registry_read_dword(registry_root::local_machine, "client_opmode", &out), 1);
  EXPECT_EQ(core::registry_read_dword(static_cast<platform::registry_key*>(nullptr), "x", &out), 1);
  EXPECT_EQ(out, 7u);
}

TEST_F(Registry, ServerBrowserModePrefersCurrentUser) {
  const uint8_t wrong[4] = {5, 0, 0, 0};
  const struct {
    const char* name;
    int user;     // -1 absent, -2 of the wrong type
    int machine;  // -1 absent
    int rc;
    uint32_t expected;
  } cases[] = {
      {"both", 1, 2, 0, 1},
      {"machine only", -1, 2, 0, 2},
      {"user value of the wrong type", -2, 2, 0, 2},
      {"user only", 0, -1, 0, 0},
      {"neither", -1, -1, 1, 77},
      {"only a wrong user value", -2, -1, 1, 77},
  };
  for (const auto& c : cases) {
    test::registry_reset();
    if (c.user >= 0)
      test::registry_set_dword(registry_root::current_user, "serverBrowserMode",
                               static_cast<uint32_t>(c.user));
    if (c.user == -2)
      test::registry_set(registry_root::current_user, "serverBrowserMode", platform::reg_binary,
                         wrong, sizeof wrong);
    if (c.machine >= 0)
      test::registry_set_dword(registry_root::local_machine, "serverBrowserMode",
                               static_cast<uint32_t>(c.machine));
    uint32_t out = 77;
    EXPECT_EQ(core::read_server_browser_mode(&out), c.rc) << c.name;
    EXPECT_EQ(out, c.expected) << c.name;
  }
}

TEST(SplitLeadingWord, Table) {
  const struct {
    const char* text;
    const char* word;
    const char* rest;
  } cases[] = {
      {"abc;def", "abc", "def"},   {"abc", "abc", ""},     {";def", "", "def"},
      {"", "", ""},                {"Ab12 x y", "Ab12", "x y"}, {"abc;;def", "abc", ";def"},
      {"a-b", "a", "b"},           {"a\xE9", "a", ""},
  };
  for (const auto& c : cases) {
    std::string buffer = c.text;
    char* word = nullptr;
    char* rest = nullptr;
    EXPECT_EQ(text::split_leading_word(buffer.data(), &word, &rest), 0);
    EXPECT_EQ(word, buffer.data()) << c.text;
    EXPECT_STREQ(word, c.word) << c.text;
    EXPECT_STREQ(rest, c.rest) << c.text;
    EXPECT_GE(rest, buffer.data()) << c.text;
    EXPECT_LE(rest, buffer.data() + buffer.size()) << c.text;
  }
}

}  // namespace
