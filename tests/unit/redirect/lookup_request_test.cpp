// The "HHHL3" request checked byte for byte against an example worked out
// here, with the code computed by OpenSSL over a known secret block; and the
// answer check (D1 masks, D2 signs) against answers built by hand.
#include <gtest/gtest.h>
#include <openssl/md5.h>

#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "deploy_values.h"
#include "digest/md5.h"
#include "redirect/lookup_answer.h"
#include "redirect/lookup_request.h"
#include "redirect_fixture.h"

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
std::vector<uint8_t> openssl_md5(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out(16);
  MD5(data.data(), data.size(), out.data());
  return out;
}
#pragma GCC diagnostic pop

// The chaining value MD5 reaches after one 64-byte block: the state of a
// context that has absorbed exactly that block.
void chain_after(const std::vector<uint8_t>& block, uint32_t chain[4]) {
  digest::md5_context ctx;
  digest::md5_start(ctx);
  digest::md5_update(ctx, block.data(), 64);
  std::memcpy(chain, ctx.state, sizeof ctx.state);
}

TEST(LookupRequest, MatchesTheWorkedExampleByteForByte) {
  std::vector<uint8_t> secret(64);
  for (size_t i = 0; i < 64; ++i) secret[i] = static_cast<uint8_t>(0xA0 ^ (i * 7));
  uint32_t chain[4];
  chain_after(secret, chain);

  const uint8_t id[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  const uint32_t time = 0x6543210F;
  uint8_t record[46];
  record[0] = 46;
  record[1] = 0;
  for (int i = 2; i < 46; ++i) record[i] = static_cast<uint8_t>(i * 3);

  // In clear: id, time, tag, record (16 + 46 bytes).
  std::vector<uint8_t> clear(id, id + 8);
  for (uint8_t b : {0x0F, 0x21, 0x43, 0x65, 0xAC, 0x6B, 0x81, 0x51}) clear.push_back(b);
  clear.insert(clear.end(), record, record + 46);
  std::vector<uint8_t> keyed = secret;
  keyed.insert(keyed.end(), clear.begin(), clear.end());
  const std::vector<uint8_t> code = openssl_md5(keyed);

  std::vector<uint8_t> expected = {'H', 'H', 'H', 'L', '3', 0x51};
  for (size_t i = 0; i < clear.size(); ++i)
    expected.push_back(i < 8 ? clear[i] : static_cast<uint8_t>(clear[i] ^ id[i % 8]));
  expected.insert(expected.end(), code.begin(), code.end());
  ASSERT_EQ(expected.size(), 84u);

  redirect::lookup_request request;
  redirect::build_lookup_request(request, id, time, 0x51816BAC, record, chain);
  EXPECT_EQ(std::vector<uint8_t>(request.bytes, request.bytes + request.length), expected);
  EXPECT_EQ(request.time, time);
  EXPECT_EQ(request.tag, 0x51816BACu);
  EXPECT_EQ(std::memcmp(request.id, id, 8), 0);

  // An unread executable: length 0, so none of the record is sent.
  const uint8_t no_record[46] = {};
  redirect::build_lookup_request(request, id, time, 0x51816BAC, no_record, chain);
  ASSERT_EQ(request.length, 38u);
  std::vector<uint8_t> short_keyed = secret;
  short_keyed.insert(short_keyed.end(), clear.begin(), clear.begin() + 16);
  const std::vector<uint8_t> short_code = openssl_md5(short_keyed);
  EXPECT_EQ(std::vector<uint8_t>(request.bytes, request.bytes + 22),
            std::vector<uint8_t>(expected.begin(), expected.begin() + 22));
  EXPECT_EQ(std::vector<uint8_t>(request.bytes + 22, request.bytes + 38), short_code);
}

TEST(LookupRequest, FreshRequestsDrawNewIdsAndDecodeAtTheService) {
  core::process.host_image_record[0] = 46;
  redirect::lookup_request a, b;
  redirect::make_lookup_request(a);
  redirect::make_lookup_request(b);
  EXPECT_NE(std::memcmp(a.id, b.id, 8), 0);
  service::lookup_request_seen seen;
  ASSERT_TRUE(service::decode_lookup_request(deploy::lookup_chain, a.bytes, a.length, seen));
  EXPECT_TRUE(seen.code_ok);
  EXPECT_EQ(seen.tag, 0x51816BACu);
  EXPECT_EQ(seen.host_image_record.size(), 46u);
  std::memset(core::process.host_image_record, 0, sizeof core::process.host_image_record);
}

// An answer put together field by field, independently of the service's code.
std::vector<uint8_t> hand_answer(const uint8_t id[8], uint32_t time, uint32_t tag,
                                 const std::vector<uint8_t>& payload, bool swap_hi_lo) {
  const uint8_t nonce[8] = {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87};
  uint8_t t[4], hi[2], lo[2];
  bytes::store_u32le(t, time);
  bytes::store_u16le(hi, static_cast<uint16_t>((tag >> 16) ^ 0x5181));
  bytes::store_u16le(lo, static_cast<uint16_t>((tag & 0xFFFF) ^ 0x6BAC));
  if (swap_hi_lo) std::swap(hi, lo);
  auto keyed = [](const std::vector<uint8_t>& m) {
    digest::md5_context ctx;
    digest::md5_start_chained(ctx, deploy::lookup_chain);
    digest::md5_update(ctx, m.data(), static_cast<uint32_t>(m.size()));
    digest::md5_final(ctx);
    return std::vector<uint8_t>(ctx.digest, ctx.digest + 16);
  };
  std::vector<uint8_t> m1(t, t + 4);
  m1.insert(m1.end(), hi, hi + 2);
  m1.insert(m1.end(), lo, lo + 2);
  m1.insert(m1.end(), id, id + 8);
  m1.insert(m1.end(), nonce, nonce + 8);
  std::vector<uint8_t> m2(nonce, nonce + 8);
  m2.insert(m2.end(), id, id + 8);
  m2.insert(m2.end(), t, t + 4);
  m2.insert(m2.end(), lo, lo + 2);
  m2.insert(m2.end(), hi, hi + 2);
  m2.insert(m2.end(), payload.begin(), payload.end());
  const std::vector<uint8_t> d1 = keyed(m1), d2 = keyed(m2);
  std::vector<uint8_t> body(nonce, nonce + 8);
  body.insert(body.end(), d2.begin(), d2.end());
  for (size_t j = 0; j < payload.size(); ++j) body.push_back(payload[j] ^ d1[j % 16]);
  return body;
}

class LookupAnswer : public redirect_test::redirect_fixture {};

TEST_F(LookupAnswer, VerifiesInstallsAndRefusesWhatDoesNotMatch) {
  const uint8_t id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const uint32_t time = 1700000000, tag = 0x12345678;  // hi and lo both non-zero
  const std::vector<uint8_t> payload = {1, 1, 10, 0, 0, 7, 0x01, 0x44, 0x33, 0x22, 0x11, 1};
  const std::vector<uint8_t> body = hand_answer(id, time, tag, payload, false);
  uint32_t address = 0;

  EXPECT_EQ(redirect::verify_and_install(body.data(), body.size(), id, time, tag, false), 0);
  EXPECT_EQ(redirect::first_address(0x11223344, &address), 1) << "check only: nothing installed";
  EXPECT_EQ(redirect::verify_and_install(body.data(), body.size(), id, time, tag, true), 0);
  EXPECT_EQ(redirect::first_address(0x11223344, &address), 0);
  EXPECT_EQ(address, redirect_test::ip(10, 0, 0, 7));

  const uint8_t other_id[8] = {1, 2, 3, 4, 5, 6, 7, 9};
  EXPECT_EQ(redirect::verify_and_install(body.data(), body.size(), other_id, time, tag, true), 1);
  EXPECT_EQ(redirect::verify_and_install(body.data(), body.size(), id, time + 1, tag, true), 1);
  EXPECT_EQ(redirect::verify_and_install(body.data(), body.size(), id, time, tag ^ 1, true), 1);
  const std::vector<uint8_t> swapped = hand_answer(id, time, tag, payload, true);
  EXPECT_EQ(redirect::verify_and_install(swapped.data(), swapped.size(), id, time, tag, true), 1);
  for (size_t i = 0; i < body.size(); ++i) {
    std::vector<uint8_t> bad = body;
    bad[i] ^= 0x80;
    EXPECT_EQ(redirect::verify_and_install(bad.data(), bad.size(), id, time, tag, true), 1) << i;
  }
  EXPECT_EQ(redirect::first_address(0x11223344, &address), 0) << "refused answers change nothing";

  // Sizes: 24 (no payload) is checked, 23 and 2001 are refused outright.
  const std::vector<uint8_t> empty = hand_answer(id, time, tag, {}, false);
  EXPECT_EQ(redirect::verify_and_install(empty.data(), 24, id, time, tag, false), 0);
  EXPECT_EQ(redirect::verify_and_install(empty.data(), 23, id, time, tag, false), 1);
  std::vector<uint8_t> big(1977, 0);
  big[0] = 1;
  big[1] = 1;
  const std::vector<uint8_t> largest = hand_answer(id, time, tag, big, false);
  ASSERT_EQ(largest.size(), 2001u);
  EXPECT_EQ(redirect::verify_and_install(largest.data(), 2001, id, time, tag, false), 1);
  big.pop_back();
  const std::vector<uint8_t> fits = hand_answer(id, time, tag, big, false);
  EXPECT_EQ(redirect::verify_and_install(fits.data(), 2000, id, time, tag, false), 0);

  // A valid answer with no records empties the table.
  const std::vector<uint8_t> none = hand_answer(id, time, tag, {0, 1, 10, 0, 0, 7}, false);
  EXPECT_EQ(redirect::verify_and_install(none.data(), none.size(), id, time, tag, true), 1);
  EXPECT_EQ(redirect::first_address(0x11223344, &address), 1);
}

}  // namespace
