// MD5 against the RFC 1321 suite and OpenSSL, piecewise feeding, padding
// boundaries, chained starts and the hex form.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "digest/md5.h"

namespace {

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

// A context full of leftovers from earlier use, so that a start which forgets
// a field shows up in the digest.
digest::md5_context poisoned_context() {
  digest::md5_context ctx;
  std::memset(&ctx, 0xA5, sizeof ctx);
  return ctx;
}

std::string hex_of(const digest::md5_context& ctx) {
  char hex[digest::md5_hex_size];
  digest::md5_hex(ctx, hex);
  return hex;
}

std::string md5_hex_of(const void* data, size_t n) {
  digest::md5_context ctx = poisoned_context();
  digest::md5_start(ctx);
  digest::md5_update(ctx, data, static_cast<uint32_t>(n));
  digest::md5_final(ctx);
  return hex_of(ctx);
}

std::string md5_hex_of(const std::string& s) { return md5_hex_of(s.data(), s.size()); }

std::string md5_hex_in_pieces(const std::vector<uint8_t>& m, const std::vector<size_t>& pieces) {
  digest::md5_context ctx = poisoned_context();
  digest::md5_start(ctx);
  size_t at = 0;
  for (size_t p : pieces) {
    digest::md5_update(ctx, m.data() + at, static_cast<uint32_t>(p));
    at += p;
  }
  digest::md5_update(ctx, m.data() + at, static_cast<uint32_t>(m.size() - at));
  digest::md5_final(ctx);
  return hex_of(ctx);
}

std::string openssl_md5_hex(const void* data, size_t n) {
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EXPECT_EQ(EVP_Digest(data, n, d, &len, EVP_md5(), nullptr), 1);
  char hex[2 * EVP_MAX_MD_SIZE + 1];
  digest::hex_encode(d, len, hex);
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

// 55 bytes leave room for the padding byte and the length in one final block;
// 56 and 64 need a second one.
TEST(Md5, PaddingBoundaries) {
  const struct {
    size_t length;
    const char* digest;
  } cases[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
      {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
      {65, "c743a45e0d2e6a95cb859adae0248435"},  {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
      {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
  };
  for (const auto& c : cases) EXPECT_EQ(md5_hex_of(std::string(c.length, 'a')), c.digest) << c.length;
}

TEST(Md5, PiecewiseFeedingEqualsOneShot) {
  const std::vector<uint8_t> m = noise(5000, 1);
  const std::string whole = md5_hex_of(m.data(), m.size());
  const struct {
    const char* name;
    std::vector<size_t> pieces;  // the rest of the message follows as one last piece
  } cases[] = {
      {"empty pieces between", {0, 0, 10, 0, 54, 0, 0, 1, 0}},
      {"ends on block boundaries", {64, 64, 128, 640, 64}},
      {"fills a partial block exactly", {1, 63, 7, 57, 100, 28}},
      {"one byte at a time", std::vector<size_t>(200, 1)},
      {"one large piece after a partial block", {3, 4500}},
  };
  for (const auto& c : cases) EXPECT_EQ(md5_hex_in_pieces(m, c.pieces), whole) << c.name;

  for (uint32_t seed = 0; seed < 20; ++seed) {
    std::mt19937 gen(seed);
    std::vector<size_t> pieces;
    for (size_t left = m.size(); left > 0;) {
      size_t p = std::min<size_t>(left, gen() % 300);
      pieces.push_back(p);
      left -= p;
    }
    EXPECT_EQ(md5_hex_in_pieces(m, pieces), whole) << "seed " << seed;
  }
}

TEST(Md5, MatchesOpenSslOnRandomLengths) {
  std::mt19937 gen(7);
  for (size_t length = 0; length <= 200; ++length) {
    auto m = noise(length, static_cast<uint32_t>(length));
    EXPECT_EQ(md5_hex_of(m.data(), m.size()), openssl_md5_hex(m.data(), m.size())) << length;
  }
  for (int i = 0; i < 40; ++i) {
    auto m = noise(gen() % 70000, gen());
    EXPECT_EQ(md5_hex_of(m.data(), m.size()), openssl_md5_hex(m.data(), m.size())) << m.size();
  }
}

// Two digests fed the same bytes at once, each with its own bytes before and
// after (so their blocks start at different offsets), in random pieces; each
// must equal OpenSSL's digest of its whole message.
TEST(Md5, TwoLanesEachMatchOpenSsl) {
  std::mt19937 gen(11);
  const size_t shared_lengths[] = {0, 1, 63, 64, 65, 127, 128, 4096, 70001};
  for (int round = 0; round < 60; ++round) {
    const size_t lead1 = round % 3 == 0 ? 0 : gen() % 130, lead2 = round % 5 == 0 ? 0 : gen() % 130;
    const size_t shared_length = round < 9 ? shared_lengths[round] : gen() % 9000;
    const std::vector<uint8_t> head1 = noise(lead1, gen()), head2 = noise(lead2, gen());
    const std::vector<uint8_t> shared = noise(shared_length, gen());
    const std::vector<uint8_t> tail1 = noise(gen() % 70, gen()), tail2 = noise(gen() % 70, gen());

    digest::md5_context one = poisoned_context(), two = poisoned_context();
    digest::md5_start(one);
    digest::md5_start(two);
    digest::md5_update(one, head1.data(), static_cast<uint32_t>(head1.size()));
    digest::md5_update(two, head2.data(), static_cast<uint32_t>(head2.size()));
    for (size_t at = 0; at < shared.size();) {
      const size_t piece = std::min<size_t>(shared.size() - at, round % 2 ? gen() % 300 : 1 + gen() % 20000);
      digest::md5_update_two(one, two, shared.data() + at, static_cast<uint32_t>(piece));
      at += piece;
    }
    digest::md5_update(one, tail1.data(), static_cast<uint32_t>(tail1.size()));
    digest::md5_update(two, tail2.data(), static_cast<uint32_t>(tail2.size()));
    digest::md5_final(one);
    digest::md5_final(two);

    std::vector<uint8_t> whole1 = head1, whole2 = head2;
    whole1.insert(whole1.end(), shared.begin(), shared.end());
    whole1.insert(whole1.end(), tail1.begin(), tail1.end());
    whole2.insert(whole2.end(), shared.begin(), shared.end());
    whole2.insert(whole2.end(), tail2.begin(), tail2.end());
    SCOPED_TRACE("round " + std::to_string(round) + ", shared " + std::to_string(shared_length));
    EXPECT_EQ(hex_of(one), openssl_md5_hex(whole1.data(), whole1.size()));
    EXPECT_EQ(hex_of(two), openssl_md5_hex(whole2.data(), whole2.size()));
  }
}

// A keyed digest keeps only the chaining value of its secret 64-byte prefix;
// resuming from it must give the digest of prefix + message.
TEST(Md5, ChainedStartEqualsDigestOverPrefix) {
  const std::vector<uint8_t> prefix = noise(64, 99);
  digest::md5_context head = poisoned_context();
  digest::md5_start(head);
  digest::md5_update(head, prefix.data(), 64);
  uint32_t chain[4];
  std::memcpy(chain, head.state, sizeof chain);

  for (size_t length : {0, 1, 55, 56, 63, 64, 65, 1000}) {
    const std::vector<uint8_t> message = noise(length, static_cast<uint32_t>(length) + 5);
    digest::md5_context ctx = poisoned_context();
    digest::md5_start_chained(ctx, chain);
    digest::md5_update(ctx, message.data(), static_cast<uint32_t>(message.size()));
    digest::md5_final(ctx);

    std::vector<uint8_t> whole = prefix;
    whole.insert(whole.end(), message.begin(), message.end());
    EXPECT_EQ(hex_of(ctx), openssl_md5_hex(whole.data(), whole.size())) << length;
  }
}

TEST(Md5, BitCountCarriesIntoHighWord) {
  digest::md5_context ctx;
  digest::md5_start(ctx);
  ctx.count[0] = 0xFFFFFE00u;  // just short of 2^32 bits, on a block boundary
  const std::vector<uint8_t> block = noise(64, 3);
  digest::md5_update(ctx, block.data(), 64);
  EXPECT_EQ(ctx.count[0], 0u);
  EXPECT_EQ(ctx.count[1], 1u);
}

TEST(Md5, TextUpdateStopsAtTheNul) {
  digest::md5_context ctx = poisoned_context();
  digest::md5_start(ctx);
  digest::md5_update_text(ctx, "");
  digest::md5_update_text(ctx, "ab");
  digest::md5_update_text(ctx, "");
  digest::md5_update_text(ctx, "c");
  digest::md5_final(ctx);
  EXPECT_EQ(hex_of(ctx), "900150983cd24fb0d6963f7d28e17f72");  // "abc"

  digest::md5_start(ctx);
  digest::md5_update_text(ctx, "");
  digest::md5_final(ctx);
  EXPECT_EQ(hex_of(ctx), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, HexFormIsLowerCaseHighNibbleFirstAndTerminated) {
  digest::md5_context ctx;
  const uint8_t bytes[16] = {0x00, 0x0f, 0xf0, 0xff, 0xa5, 0x5a, 0x12, 0x34,
                             0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0, 0x01, 0x80};
  std::memcpy(ctx.digest, bytes, sizeof bytes);
  char out[40];
  std::memset(out, 'x', sizeof out);
  digest::md5_hex(ctx, out);
  EXPECT_STREQ(out, "000ff0ffa55a123456789abcdef00180");
  EXPECT_EQ(out[33], 'x');  // nothing beyond the 33 bytes

  char two[6];
  std::memset(two, 'x', sizeof two);
  digest::hex_encode(bytes + 2, 2, two);
  EXPECT_STREQ(two, "f0ff");
  EXPECT_EQ(two[5], 'x');
}

}  // namespace
