// The authorization challenge and response against the reference statistics
// service, whose check and response build are written separately (OpenSSL
// MD5, its own decipher): the challenge verifies there, its grant verifies
// here, and every refusal of the table of cases leaves the grant unused.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "deploy_values.h"
#include "script/challenge.h"
#include "service/authorization.h"

namespace {

const uint8_t exe_md5[16] = {0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
const uint8_t salt[16] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                          0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x00};

struct fixture_challenge {
  script::challenge_state state{};
  std::string time_text = "1700000123";
  std::string mod = "mods/bf2";
  std::string provider = "provider-secret-1";

  fixture_challenge() {
    for (int i = 0; i < 16; ++i) state.nonce[i] = static_cast<uint8_t>(0xA0 + i * 7);
    // 10.0.0.5 and 192.168.1.20 as stored (network order).
    state.server = {16567, 29900, 0x0500000A, 0x1401A8C0, nullptr};
    state.time = 1700000123;
    refresh();
  }
  void refresh() {
    state.server.provider_id = provider.c_str();
    state.time_text = time_text.c_str();
    state.mod_directory = mod.c_str();
  }
  std::string text() const {
    char out[script::challenge_length + 1];
    script::compose_challenge(state, exe_md5, out);
    return out;
  }
};

TEST(Challenge, VerifiesAtTheReferenceServiceWithTheFactsItCommitsTo) {
  fixture_challenge c;
  const std::string text = c.text();
  ASSERT_EQ(text.size(), 179u);
  EXPECT_EQ(text.compare(0, 3, "R4-"), 0);
  EXPECT_EQ(text.find_first_not_of("0123456789abcdef", 3), std::string::npos);

  service::challenge_facts facts;
  std::string why;
  ASSERT_TRUE(service::check_challenge(text, deploy::session_reply_start_byte, exe_md5,
                                       {"other", "provider-secret-1"}, {"mods/xpack", "mods/bf2"},
                                       &facts, &why))
      << why;
  EXPECT_EQ(facts.time, 1700000123u);
  EXPECT_EQ(facts.game_port, 16567);
  EXPECT_EQ(facts.query_port, 29900);
  EXPECT_EQ(std::vector<uint8_t>(facts.server_address, facts.server_address + 4),
            (std::vector<uint8_t>{10, 0, 0, 5}));
  EXPECT_EQ(std::vector<uint8_t>(facts.interface_address, facts.interface_address + 4),
            (std::vector<uint8_t>{192, 168, 1, 20}));
  EXPECT_EQ(facts.provider_id, "provider-secret-1");
  EXPECT_EQ(facts.mod_directory, "mods/bf2");
}

TEST(Challenge, EachDigestIsChecked) {
  fixture_challenge c;
  const std::string good = c.text();
  uint8_t other_exe[16];
  std::memcpy(other_exe, exe_md5, 16);
  other_exe[15] ^= 1;
  std::string why;
  EXPECT_FALSE(service::check_challenge(good, deploy::session_reply_start_byte, other_exe,
                                        {c.provider}, {c.mod}, nullptr, &why));
  EXPECT_EQ(why, "executable check digest differs");
  EXPECT_FALSE(service::check_challenge(good, deploy::session_reply_start_byte, exe_md5,
                                        {"someone-else"}, {c.mod}, nullptr, &why));
  EXPECT_EQ(why, "provider digest matches no known provider ID");
  EXPECT_FALSE(service::check_challenge(good, deploy::session_reply_start_byte, exe_md5,
                                        {c.provider}, {"mods/xpack"}, nullptr, &why));
  EXPECT_EQ(why, "mod digest matches no known mod directory");
  // Another starting byte deciphers other identity fields.
  EXPECT_FALSE(service::check_challenge(good, static_cast<uint8_t>(deploy::session_reply_start_byte ^ 1),
                                        exe_md5, {c.provider}, {c.mod}, nullptr, &why));
  EXPECT_EQ(why, "identity digest differs");
  // Only 16 digits of the mod digest travel; the provider digest follows at once.
  std::string cut = good;
  cut[114] = cut[114] == '0' ? '1' : '0';
  EXPECT_FALSE(service::check_challenge(cut, deploy::session_reply_start_byte, exe_md5,
                                        {c.provider}, {c.mod}, nullptr, &why));
  EXPECT_EQ(why, "mod digest matches no known mod directory");
  EXPECT_FALSE(service::check_challenge(good.substr(0, 178), deploy::session_reply_start_byte,
                                        exe_md5, {c.provider}, {c.mod}, nullptr, &why));
}

TEST(Challenge, FileDigestReadsEveryPiece) {
  // Against OpenSSL's MD5 of the whole file: several hundred KiB, not a
  // multiple of any piece size, take many reads whatever the piece size.
  std::vector<uint8_t> bytes(300 * 1024 + 17);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + (i >> 12));
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::rewind(f);
  uint8_t got[16], want[16], nothing[16];
  script::file_digest(f, got);
  std::fclose(f);
  unsigned int n = 0;
  EVP_Digest(bytes.data(), bytes.size(), want, &n, EVP_md5(), nullptr);
  EXPECT_EQ(std::vector<uint8_t>(got, got + 16), std::vector<uint8_t>(want, want + 16));
  // No file: the digest of nothing.
  script::file_digest(nullptr, nothing);
  const uint8_t empty_md5[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                 0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
  EXPECT_EQ(std::memcmp(nothing, empty_md5, 16), 0);
}

service::challenge_facts facts_of(const fixture_challenge& c) {
  service::challenge_facts facts;
  EXPECT_TRUE(service::check_challenge(c.text(), deploy::session_reply_start_byte, exe_md5,
                                       {c.provider}, {c.mod}, &facts, nullptr));
  return facts;
}

TEST(AuthorizationResponse, GrantFromTheReferenceServiceIsAccepted) {
  fixture_challenge c;
  const service::challenge_facts facts = facts_of(c);
  const struct {
    uint32_t flags;
    std::string command;
  } grants[] = {{0x80000000u, "kick 3"}, {7, ""}, {1, "exactly11ch"}};
  for (const auto& g : grants) {
    std::vector<uint8_t> r = service::build_authorization(facts, salt, g.flags, g.command);
    ASSERT_EQ(r.size(), 48u);
    script::grant out{};
    ASSERT_EQ(script::check_response(c.state, r.data(), r.size(), &out), 0) << g.command;
    EXPECT_EQ(out.flags, g.flags);
    EXPECT_STREQ(out.command, g.command.c_str());
    // Bytes after the 48th are ignored; the same response verifies again.
    r.resize(60, 0xEE);
    ASSERT_EQ(script::check_response(c.state, r.data(), r.size(), &out), 0);
    EXPECT_STREQ(out.command, g.command.c_str());
  }
}

TEST(AuthorizationResponse, RefusalsTable) {
  fixture_challenge c;
  const service::challenge_facts facts = facts_of(c);
  const std::vector<uint8_t> good = service::build_authorization(facts, salt, 5, "cmd");
  fixture_challenge newer;  // a later challenge: new nonce and time
  newer.state.nonce[0] ^= 0xFF;
  newer.time_text = "1700000999";
  newer.refresh();

  std::vector<uint8_t> short_one(good.begin(), good.begin() + 47);
  std::vector<uint8_t> long_command = service::build_authorization(facts, salt, 5, "abcdefghijk", 12);
  std::vector<uint8_t> bad_check = good;
  bad_check[20] ^= 1;
  std::vector<uint8_t> bad_grant = good;
  bad_grant[32] ^= 1;  // flags change: the check digest covers them
  const struct {
    const char* what;
    const script::challenge_state* state;
    const std::vector<uint8_t>* response;
  } cases[] = {
      {"47 bytes", &c.state, &short_one},        {"L = 12", &c.state, &long_command},
      {"check digest", &c.state, &bad_check},    {"grant bytes", &c.state, &bad_grant},
      {"older challenge", &newer.state, &good},
  };
  for (const auto& k : cases) {
    script::grant out{0xABCD, "untouched"};
    EXPECT_EQ(script::check_response(*k.state, k.response->data(), k.response->size(), &out), 1)
        << k.what;
    EXPECT_EQ(out.flags, 0xABCDu) << k.what;
  }
}

TEST(AuthorizationResponse, NulInCommandEndsItAndBeforeAnyChallengeZerosVerify) {
  // Before the first challenge the nonce is zeros and the time text empty;
  // a service that knows that can still be answered.
  fixture_challenge c;
  std::memset(c.state.nonce, 0, 16);
  c.time_text = "";
  c.refresh();
  service::challenge_facts facts;
  std::memcpy(facts.nonce, c.state.nonce, 16);
  facts.game_port = 16567;
  facts.query_port = 29900;
  const uint8_t server[4] = {10, 0, 0, 5}, interface_address[4] = {192, 168, 1, 20};
  std::memcpy(facts.server_address, server, 4);
  std::memcpy(facts.interface_address, interface_address, 4);
  facts.provider_id = c.provider;
  facts.mod_directory = c.mod;
  facts.time_text = "";
  const std::vector<uint8_t> r = service::build_authorization(facts, salt, 9, std::string("ab\0cd", 5));
  script::grant out{};
  // The service digests all five bytes but the library stops at the NUL: refused.
  EXPECT_EQ(script::check_response(c.state, r.data(), r.size(), &out), 1);
  const std::vector<uint8_t> plain = service::build_authorization(facts, salt, 9, "ab");
  ASSERT_EQ(script::check_response(c.state, plain.data(), plain.size(), &out), 0);
  EXPECT_STREQ(out.command, "ab");
}

}  // namespace
