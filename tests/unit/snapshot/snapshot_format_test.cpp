// Snapshot formats checked against vectors made here from the format tables
// (OpenSSL's MD5, the cipher written out by hand), so that a mistake shared by
// the library and the reference service cannot pass: the chain cipher, the
// body of build_snapshot, the request header, and the service's decoder.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "snapshot/chain_cipher.h"
#include "snapshot/snapshot_body.h"
#include "snapshot/snapshot_header.h"
#include "snapshot_fixture.h"

namespace {

using bytes_t = std::vector<uint8_t>;

bytes_t md5_of(const std::vector<bytes_t>& parts) {
  bytes_t all;
  for (const bytes_t& p : parts) all.insert(all.end(), p.begin(), p.end());
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EXPECT_EQ(EVP_Digest(all.data(), all.size(), d, &length, EVP_md5(), nullptr), 1);
  return bytes_t(d, d + 16);
}
bytes_t text_bytes(const std::string& s) { return bytes_t(s.begin(), s.end()); }
bytes_t le(uint32_t v, int n) {
  bytes_t out;
  for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}
bytes_t stored(uint32_t network_order) {
  bytes_t out(4);
  std::memcpy(out.data(), &network_order, 4);
  return out;
}
// plain[i] = cipher[i] ^ key[i % 16] ^ cipher[i - 1], written out independently.
bytes_t decipher(const uint8_t* c, size_t n, const uint8_t* key, uint8_t start) {
  bytes_t out(n);
  for (size_t i = 0; i < n; ++i) out[i] = c[i] ^ key[i % 16] ^ (i == 0 ? start : c[i - 1]);
  return out;
}

TEST(ChainCipher, HandVectorAndRoundTrip) {
  uint8_t key[16];
  for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(i);
  // 0x41^0x00^0x5A = 0x1B, 0x42^0x01^0x1B = 0x58, 0x43^0x02^0x58 = 0x19
  uint8_t abc[3] = {0x41, 0x42, 0x43};
  snapshot::chain_encipher(abc, 3, key, 0x5A);
  EXPECT_EQ(bytes_t(abc, abc + 3), (bytes_t{0x1B, 0x58, 0x19}));
  snapshot::chain_decipher(abc, 3, key, 0x5A);
  EXPECT_EQ(bytes_t(abc, abc + 3), (bytes_t{0x41, 0x42, 0x43}));

  bytes_t data(40);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  bytes_t work = data;
  snapshot::chain_encipher(work.data(), work.size(), key, 0xC3);
  EXPECT_EQ(decipher(work.data(), work.size(), key, 0xC3), data) << "key wraps after 16 bytes";
  snapshot::chain_decipher(work.data(), work.size(), key, 0xC3);
  EXPECT_EQ(work, data);
}

class SnapshotFormat : public snapshot_test::snapshot_fixture {};

TEST_F(SnapshotFormat, BuildSnapshotFollowsTheTables) {
  for (size_t n : {size_t{0}, size_t{11}, size_t{5000}}) {
    SCOPED_TRACE(n);
    bytes_t data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 31 + 5);
    snapshot::snapshot_record record;
    record.header_reserve = snapshot::header_reserve_size;
    ASSERT_EQ(snapshot::build_snapshot(record, data.data(), n, block_->interface_address,
                                       block_->server_address, block_->game_port,
                                       block_->query_port),
              0);
    ASSERT_NE(record.buffer, nullptr);
    EXPECT_EQ(record.body_length, 64 + n);
    const uint8_t* body = record.buffer + record.header_reserve;

    const bytes_t nonce(body, body + 16);
    const bytes_t identity = decipher(body + 16, 16, nonce.data(), deploy::identity_start_byte);
    const uint32_t t = snapshot_test::test_date;
    const bytes_t gp = le(16567, 2), qp = le(29900, 2);
    const bytes_t sa = stored(block_->server_address), ia = stored(block_->interface_address);
    bytes_t expected_identity = le(t, 4);
    for (const bytes_t* part : {&gp, &qp, &ia, &sa})
      expected_identity.insert(expected_identity.end(), part->begin(), part->end());
    EXPECT_EQ(identity, expected_identity);

    const bytes_t p = text_bytes(snapshot_test::provider), t_text = text_bytes("1800000000");
    const bytes_t d1 = md5_of({nonce, gp, qp, sa, ia, p, t_text});
    const bytes_t d2 = md5_of({nonce, qp, gp, ia, sa, le(t, 4), p});
    const bytes_t d3 = md5_of({nonce, p, data, t_text});
    EXPECT_EQ(bytes_t(body + 32, body + 48), d2);
    EXPECT_EQ(bytes_t(body + 48, body + 64), d3);
    EXPECT_EQ(decipher(body + 64, n, d1.data(), nonce[3]), data);

    // The service's own decoder agrees, and knows the sender by its provider ID.
    service::snapshot_seen seen;
    std::string why;
    ASSERT_TRUE(service::decode_snapshot_body(snapshot_test::keys(), body, record.body_length,
                                              {"someone-else", snapshot_test::provider}, seen,
                                              why))
        << why;
    EXPECT_EQ(seen.provider_id, snapshot_test::provider);
    EXPECT_EQ(seen.time, t);
    EXPECT_EQ(seen.game_port, 16567);
    EXPECT_EQ(seen.query_port, 29900);
    EXPECT_EQ(seen.server_address, block_->server_address);
    EXPECT_EQ(seen.interface_address, block_->interface_address);
    EXPECT_EQ(seen.data, data);
    snapshot::release_snapshot(record);
  }
}

TEST_F(SnapshotFormat, ServiceDecoderRefusesWhatDoesNotCheckOut) {
  const bytes_t data = text_bytes("kills=3;deaths=1");
  snapshot::snapshot_record record;
  record.header_reserve = 0;
  ASSERT_EQ(snapshot::build_snapshot(record, data.data(), data.size(), 1, 2, 3, 4), 0);
  const auto decode = [&](const bytes_t& body, const std::vector<std::string>& providers) {
    service::snapshot_seen seen;
    std::string why;
    return service::decode_snapshot_body(snapshot_test::keys(), body.data(), body.size(),
                                         providers, seen, why);
  };
  const bytes_t body(record.buffer, record.buffer + record.body_length);
  EXPECT_TRUE(decode(body, {snapshot_test::provider}));
  EXPECT_FALSE(decode(body, {"PROV-other"})) << "unknown provider";
  EXPECT_FALSE(decode(bytes_t(body.begin(), body.begin() + 63), {snapshot_test::provider}));
  bytes_t changed = body;
  changed.back() ^= 1;
  EXPECT_FALSE(decode(changed, {snapshot_test::provider})) << "data digest";
  changed = body;
  changed[20] ^= 1;
  EXPECT_FALSE(decode(changed, {snapshot_test::provider})) << "identity block";
  snapshot::release_snapshot(record);
}

TEST_F(SnapshotFormat, HeaderEndsAtTheReserveWithTheTsdataValue) {
  block_->start_time = 1799999000;
  const bytes_t data = text_bytes("x");
  snapshot::snapshot_record record;
  record.header_reserve = snapshot::header_reserve_size;
  ASSERT_EQ(snapshot::build_snapshot(record, data.data(), 1, 1, 2, 3, 4), 0);
  const bytes_t body(record.buffer + 1000, record.buffer + 1000 + 65);

  // Before any session exchange: midpoint and service time 0.
  for (const auto& [midpoint, service_time] :
       {std::pair<uint32_t, uint32_t>{0, 0}, {1799999990, 1800000123}}) {
    block_->exchange_midpoint = midpoint;
    block_->service_time = service_time;
    platform::test::advance_clock(5);
    const uint32_t t2 = platform::now_seconds();
    ASSERT_EQ(snapshot::prepare_header(record), 0);
    char masked[33];
    std::snprintf(masked, sizeof masked, "%.8x%.8x%.8x%.8x", midpoint ^ deploy::tsdata_mask_a,
                  service_time ^ deploy::tsdata_mask_b, 1799999000u ^ deploy::tsdata_mask_a,
                  t2 ^ deploy::tsdata_mask_b);
    bytes_t numbers = le(midpoint, 4);
    for (uint32_t v : {service_time, 1799999000u, t2}) {
      const bytes_t b = le(v, 4);
      numbers.insert(numbers.end(), b.begin(), b.end());
    }
    const bytes_t d = md5_of({numbers, text_bytes(snapshot_test::provider)});
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", d[i]);
    const std::string expected =
        std::string("POST /ASP/sendsnapshot.aspx HTTP/1.1\r\nHost: ") + deploy::retired_stats_host +
        "\r\nUser-Agent: OstrelLib 1.0\r\nConnection: close\r\n"
        "Content-Type: application/octet-stream\r\nContent-Length: 71\r\n"
        "X-Ostrel-tsdata: " + masked + hex + "\r\n\r\nHSNAP1";
    EXPECT_EQ(record.header_length, expected.size());
    EXPECT_EQ(record.header_offset + record.header_length, 1000u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(record.buffer) + record.header_offset,
                          record.header_length),
              expected);
    EXPECT_EQ(bytes_t(record.buffer + 1000, record.buffer + 1065), body) << "body untouched";
  }

  // A reserve too small for the header: refused, body untouched.
  snapshot::snapshot_record small;
  small.header_reserve = 200;
  ASSERT_EQ(snapshot::build_snapshot(small, data.data(), 1, 1, 2, 3, 4), 0);
  const bytes_t small_body(small.buffer + 200, small.buffer + 265);
  EXPECT_EQ(snapshot::prepare_header(small), 1);
  EXPECT_EQ(bytes_t(small.buffer + 200, small.buffer + 265), small_body);
  snapshot::release_snapshot(small);
  snapshot::release_snapshot(record);
}

}  // namespace
