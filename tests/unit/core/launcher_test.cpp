// The launcher hand-over against the native registry and process table: the
// modes, and the 32-byte record with its tag over value, pid and the
// lower-cased image name (checked against an independent MD5).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/launcher.h"
#include "platform/native/test_controls.h"

namespace {

using platform::registry_root;

constexpr uint32_t launcher_pid = 4242;
constexpr char image_reported[] = "\\Device\\HarddiskVolume1\\Games\\Launcher\\LAUNCHER.exe";

// Tag as a launcher computes it: MD5 over value, pid bytes and the name given.
std::vector<uint8_t> make_record(uint32_t pid, const std::string& tagged_name) {
  std::vector<uint8_t> r(32, 0);
  std::memcpy(r.data(), "HPV1", 4);
  for (int i = 0; i < 4; ++i) r[4 + i] = static_cast<uint8_t>(pid >> (8 * i));
  for (int i = 0; i < 8; ++i) r[8 + i] = static_cast<uint8_t>(0xA0 + i);
  std::vector<uint8_t> input(r.begin() + 8, r.begin() + 16);
  input.insert(input.end(), r.begin() + 4, r.begin() + 8);
  input.insert(input.end(), tagged_name.begin(), tagged_name.end());
  unsigned int length = 0;
  EVP_Digest(input.data(), input.size(), r.data() + 16, &length, EVP_md5(), nullptr);
  return r;
}

std::string lowered(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

class Launcher : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::test::registry_reset();
    platform::test::clear_process_image_names();
    platform::test::set_process_image_name(launcher_pid, image_reported);
  }
  void TearDown() override {
    platform::test::registry_reset();
    platform::test::clear_process_image_names();
  }
  static void set_record(const std::vector<uint8_t>& r, uint32_t type = platform::reg_binary) {
    platform::test::registry_set(registry_root::current_user, "client_opvdata", type, r.data(),
                                 static_cast<uint32_t>(r.size()));
  }
  const std::vector<uint8_t> valid_ = make_record(launcher_pid, lowered(image_reported));
};

TEST_F(Launcher, ModeDecidesUnlessItAsksForTheRecord) {
  EXPECT_EQ(core::launcher_handshake(), 1);  // no product key
  platform::test::registry_create_product_key(registry_root::current_user);
  EXPECT_EQ(core::launcher_handshake(), 1);  // no client_opmode
  platform::test::registry_set_string(registry_root::current_user, "client_opmode", "0");
  EXPECT_EQ(core::launcher_handshake(), 1);  // not a number: as absent
  // The local machine's root is never asked.
  platform::test::registry_set_dword(registry_root::local_machine, "client_opmode", 0);
  platform::test::registry_delete(registry_root::current_user, "client_opmode");
  EXPECT_EQ(core::launcher_handshake(), 1);

  set_record(valid_);
  const struct {
    uint32_t mode;
    int verdict;
  } modes[] = {{0, 0}, {1, 1}, {2, 1}, {7, 1}, {0xFFFFFFFFu, 1}};
  for (const auto& m : modes) {
    platform::test::registry_set_dword(registry_root::current_user, "client_opmode", m.mode);
    EXPECT_EQ(core::launcher_handshake(), m.verdict) << m.mode;
  }
}

TEST_F(Launcher, RecordCountsOnlyWhenWholeAndTrue) {
  platform::test::registry_set_dword(registry_root::current_user, "client_opmode", 1);
  EXPECT_EQ(core::launcher_handshake(), 0);  // no record

  std::vector<uint8_t> short_record(valid_.begin(), valid_.end() - 1);
  std::vector<uint8_t> long_record = valid_;
  long_record.push_back(0);
  std::vector<uint8_t> bad_magic = valid_;
  bad_magic[3] = '2';
  std::vector<uint8_t> other_value = valid_;
  other_value[15] ^= 1;
  std::vector<uint8_t> other_tag = valid_;
  other_tag[31] ^= 1;
  const struct {
    const char* what;
    std::vector<uint8_t> record;
    uint32_t type;
    int verdict;
  } cases[] = {
      {"valid", valid_, platform::reg_binary, 1},
      {"31 bytes", short_record, platform::reg_binary, 0},
      {"33 bytes", long_record, platform::reg_binary, 0},
      {"text type", valid_, platform::reg_sz, 0},
      {"wrong magic", bad_magic, platform::reg_binary, 0},
      {"value not covered by the tag", other_value, platform::reg_binary, 0},
      {"tag altered", other_tag, platform::reg_binary, 0},
      {"tag over the name as reported", make_record(launcher_pid, image_reported),
       platform::reg_binary, 0},
      {"other process", make_record(launcher_pid + 1, lowered(image_reported)),
       platform::reg_binary, 0},
  };
  for (const auto& c : cases) {
    set_record(c.record, c.type);
    EXPECT_EQ(core::launcher_handshake(), c.verdict) << c.what;
  }

  // The launcher exits, or its id goes to another program.
  set_record(valid_);
  platform::test::set_process_image_name(launcher_pid, "\\Device\\HarddiskVolume1\\other.exe");
  EXPECT_EQ(core::launcher_handshake(), 0);
  platform::test::clear_process_image_names();
  EXPECT_EQ(core::launcher_handshake(), 0);
}

TEST(LauncherTag, MatchesTheRule) {
  std::vector<uint8_t> r = make_record(99, "\\device\\x\\l.exe");
  uint8_t tag[16];
  core::launcher_tag(r.data(), "\\Device\\X\\L.EXE", tag);
  EXPECT_EQ(std::memcmp(tag, r.data() + core::lr_tag, 16), 0);
}

}  // namespace
