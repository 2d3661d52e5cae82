// Check and player tokens against MD5 computed independently (OpenSSL) over
// the fields laid out by hand, and the reading of the host's port texts.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "script/tokens.h"

namespace {

std::string md5_hex(const std::vector<uint8_t>& bytes) {
  uint8_t d[16];
  EVP_Digest(bytes.data(), bytes.size(), d, nullptr, EVP_md5(), nullptr);
  std::string hex;
  char two[3];
  for (uint8_t b : d) {
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  return hex;
}

void append(std::vector<uint8_t>& v, const std::string& s) { v.insert(v.end(), s.begin(), s.end()); }

TEST(CheckToken, HalfTheRandomBytesThenTheDigestOverServerDataAndTime) {
  const uint8_t r[16] = {0x00, 0x01, 0xAB, 0xCD, 0xEF, 0x10, 0x7F, 0x80,
                         0x99, 0x98, 0x97, 0x96, 0x95, 0x94, 0x93, 0x92};
  // Ports 16567 and 29900; addresses 10.1.2.3 and 192.168.0.9 as stored.
  const script::server_identity server{16567, 29900, 0x0302010A, 0x0900A8C0, "provider-7"};
  const uint8_t data[] = {'a', 0, 'b'};
  for (int32_t now : {1700000000, -5}) {
    char token[script::check_token_size];
    script::make_check_token(r, server, data, sizeof data, now, token);
    std::vector<uint8_t> in(r, r + 16);
    for (uint8_t b : {0xCC, 0x74, 0xB7, 0x40, 10, 1, 2, 3, 192, 168, 0, 9}) in.push_back(b);
    append(in, "provider-7");
    in.insert(in.end(), data, data + sizeof data);
    append(in, std::to_string(now));
    EXPECT_EQ(std::string(token), "0001abcdef107f80" + md5_hex(in)) << now;
  }
  // Empty data still gives 48 digits.
  char token[script::check_token_size];
  script::make_check_token(r, server, nullptr, 0, 1, token);
  EXPECT_EQ(std::strlen(token), 48u);
}

TEST(PlayerToken, ProofProfileIdAndLowerCasedName) {
  const uint8_t proof[] = {1, 2, 3, 0, 0xFF};
  const uint8_t upper[] = {'P', 'l', 'a', 'Y', 'e', 'R', '_', 0xC4, '9'};
  const uint8_t lower[] = {'p', 'l', 'a', 'y', 'e', 'r', '_', 0xC4, '9'};
  char a[script::player_token_size], b[script::player_token_size];
  script::make_player_token(proof, sizeof proof, 0x80000001u, upper, sizeof upper, a);
  script::make_player_token(proof, sizeof proof, 0x80000001u, lower, sizeof lower, b);
  std::vector<uint8_t> in(proof, proof + sizeof proof);
  for (uint8_t x : {0x01, 0x00, 0x00, 0x80}) in.push_back(x);
  in.insert(in.end(), lower, lower + sizeof lower);
  EXPECT_EQ(std::string(a), "R4-" + md5_hex(in));
  EXPECT_STREQ(a, b);
}

TEST(PortText, FirstTokenLeadingDigits) {
  const struct {
    const char* text;
    uint32_t port;
  } cases[] = {
      {"16567 x", 16567}, {"0", 0},        {"65536", 65536},     {"", 0},
      {"abc", 0},         {" \t29900", 29900}, {"12ab", 12},     {"\r\n7 8", 7},
      // A number past 32 bits must not wrap into a valid port.
      {"4294967297", 0xFFFFFFFFu}, {"99999999999999999999", 0xFFFFFFFFu},
  };
  for (const auto& c : cases) EXPECT_EQ(script::port_from_text(c.text), c.port) << c.text;
}

TEST(PortText, CutAfterFirstTokenKeepsLeadingSeparators) {
  const struct {
    const char* text;
    const char* cut;
  } cases[] = {{"10.0.0.1 extra", "10.0.0.1"}, {" 10.0.0.1\tx", " 10.0.0.1"}, {"", ""},
               {"   ", "   "}, {"1.2.3.4", "1.2.3.4"}};
  for (const auto& c : cases) {
    char field[20];
    std::snprintf(field, sizeof field, "%s", c.text);
    script::cut_after_first_token(field);
    EXPECT_STREQ(field, c.cut) << c.text;
  }
}

}  // namespace
