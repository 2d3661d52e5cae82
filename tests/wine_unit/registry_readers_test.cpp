// The registry readers against Wine's real registry: value types and sizes,
// the 99-byte text limit, the two roots and a missing product key.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text.h"
#include "core/registry_readers.h"
#include "product_key.h"

namespace {

using platform::registry_root;
using wine_test::set_value;

class RegistryReaders : public ::testing::Test {
 protected:
  void SetUp() override { clean(); }
  void TearDown() override { clean(); }
  static void clean() {
    wine_test::delete_product_key(HKEY_CURRENT_USER);
    wine_test::delete_value(HKEY_LOCAL_MACHINE, "serverBrowserMode");
  }
};

TEST_F(RegistryReaders, DwordTypesAndSizes) {
  uint32_t out = 77;
  EXPECT_EQ(core::registry_read_dword(registry_root::current_user, "client_opmode", &out), 1);
  uint8_t bytes[300];
  std::memset(bytes, 0xEE, sizeof bytes);
  const uint8_t number[4] = {0x04, 0x03, 0x02, 0x01};
  std::memcpy(bytes, number, sizeof number);
  const struct {
    DWORD type;
    DWORD size;
    int rc;
  } cases[] = {
      {REG_DWORD, 4, 0},  {REG_DWORD, 8, 0},   {REG_DWORD, 3, 1},
      {REG_DWORD, 9, 0},  {REG_DWORD, 300, 0},  // longer values: the first 4 bytes count
      {REG_BINARY, 4, 1}, {REG_BINARY, 300, 1}, {REG_SZ, 4, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.size));
    ASSERT_TRUE(set_value(HKEY_CURRENT_USER, "client_opmode", c.type, bytes, c.size));
    out = 77;
    EXPECT_EQ(core::registry_read_dword(registry_root::current_user, "client_opmode", &out), c.rc);
    EXPECT_EQ(out, c.rc == 0 ? 0x01020304u : 77u);
  }
  // An opened key is read as it is.
  platform::registry_key* key = platform::registry_open(registry_root::current_user);
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(wine_test::set_dword(HKEY_CURRENT_USER, "client_opmode", 5));
  EXPECT_EQ(core::registry_read_dword(key, "client_opmode", &out), 0);
  EXPECT_EQ(out, 5u);
  platform::registry_close(key);
}

TEST_F(RegistryReaders, ServerBrowserModeFromEitherRoot) {
  uint32_t out = 9;
  EXPECT_EQ(core::read_server_browser_mode(&out), 1);
  EXPECT_EQ(out, 9u);
  ASSERT_TRUE(wine_test::set_dword(HKEY_LOCAL_MACHINE, "serverBrowserMode", 2));
  EXPECT_EQ(core::read_server_browser_mode(&out), 0);  // no current-user key at all
  EXPECT_EQ(out, 2u);
  ASSERT_TRUE(wine_test::set_dword(HKEY_CURRENT_USER, "serverBrowserMode", 1));
  EXPECT_EQ(core::read_server_browser_mode(&out), 0);
  EXPECT_EQ(out, 1u);
}

TEST_F(RegistryReaders, TextValues) {
  const std::string text98(98, 't');
  const struct {
    DWORD type;
    std::string bytes;
    int rc;
    std::string read;
  } cases[] = {
      {REG_SZ, std::string("fmrcoop;x", 10), 0, "fmrcoop;x"},
      {REG_EXPAND_SZ, std::string("%APPDATA%", 10), 0, "%APPDATA%"},
      {REG_MULTI_SZ, std::string("ab\0cd\0\0", 7), 0, std::string("ab\0cd\0\0\0", 8)},
      {REG_SZ, text98 + '\0', 0, text98 + '\0'},      // 99 bytes: the limit
      {REG_SZ, text98 + "t" + '\0', 1, ""},          // 100 bytes: as absent
      {REG_BINARY, std::string("official", 9), 1, ""},
      {REG_DWORD, std::string(4, '\1'), 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    ASSERT_TRUE(set_value(HKEY_CURRENT_USER, "rkgRetail", c.type, c.bytes.data(),
                          static_cast<DWORD>(c.bytes.size())));
    char out[100];
    std::memset(out, '#', sizeof out);
    ASSERT_EQ(core::registry_read_string("rkgRetail", out), c.rc);
    if (c.rc == 0)
      EXPECT_EQ(std::string(out, c.read.size()), c.read);
    else
      EXPECT_EQ(out[0], '#');
  }
  char out[100] = "untouched";
  EXPECT_EQ(core::registry_read_string("rkgMods", out), 1);
  wine_test::delete_product_key(HKEY_CURRENT_USER);
  EXPECT_EQ(core::registry_read_string("rkgRetail", out), 1);
  EXPECT_STREQ(out, "untouched");
}

TEST_F(RegistryReaders, TextSplitsAtItsLeadingWord) {
  const char value[] = "fmrcq;extra";
  ASSERT_TRUE(set_value(HKEY_CURRENT_USER, "rkgMods", REG_SZ, value, sizeof value));
  char out[100];
  ASSERT_EQ(core::registry_read_string("rkgMods", out), 0);
  char* word = nullptr;
  char* rest = nullptr;
  text::split_leading_word(out, &word, &rest);
  EXPECT_STREQ(word, "fmrcq");
  EXPECT_STREQ(rest, "extra");
}

}  // namespace
