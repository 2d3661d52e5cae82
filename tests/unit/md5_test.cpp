// MD5 against the RFC 1321 suite, piecewise feeding and chained starts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "digest/md5.h"

namespace {

std::string md5_hex_of(const std::string& s) {
  digest::md5_context ctx;
  digest::md5_start(ctx);
  digest::md5_update(ctx, s.data(), static_cast<uint32_t>(s.size()));
  digest::md5_final(ctx);
  char hex[33];
  digest::md5_hex(ctx, hex);
  return hex;
}

TEST(Md5, Rfc1321Suite) {
  const struct {
    const char* message;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(md5_hex_of(c.message), c.digest) << c.message;
}

}  // namespace
