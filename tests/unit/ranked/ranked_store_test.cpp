// The ranked list store: blobs sealed here with OpenSSL and the cipher written
// out by hand are verified and installed (the edge cases of records, lengths,
// versions and changed bytes), the reference master's blobs match them, the
// file loader's rules, and the lookup in table order.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "platform/native/test_controls.h"
#include "ranked/ranked_blob.h"
#include "ranked/ranked_file.h"
#include "ranked/ranked_store.h"
#include "ranked_fixture.h"
#include "scratch_dir.h"
#include "service/deploy_file.h"
#include "service/ranked_messages.h"

namespace {

using namespace ranked_test;
using bytes_t = std::vector<uint8_t>;

const uint8_t server_a[4] = {10, 1, 2, 3};
const uint8_t server_b[4] = {10, 1, 2, 4};
const uint8_t server_c[4] = {192, 168, 0, 9};

uint32_t addr(const uint8_t a[4]) {
  uint32_t v;
  std::memcpy(&v, a, 4);
  return v;
}
uint16_t net_port(uint16_t p) { return bytes::to_network_u16(p); }

class RankedStore : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::test::set_appdata_folder(folder_.path().c_str());
    ASSERT_EQ(ranked::arena_allocate(), 0);
    ranked::ranked_reset();
  }
  void TearDown() override { ranked::ranked_reset(); }
  std::string file_path() const { return folder_.path() + "/Ostrel/rankedservers"; }
  void write_file(const bytes_t& data) const { folder_.write("Ostrel/rankedservers", data); }

  scratch_dir folder_;
};

struct blob_case {
  const char* name;
  bytes_t blob;
  int verdict;            // verify and install
  size_t entries;         // after a successful install
};

TEST_F(RankedStore, VerifyAndInstallOverTheEdgeCases) {
  const bytes_t nonce = nonce_of(1);
  bytes_t typical = body_head(29900);
  add_record(typical, 0x81, server_a);          // default port, ranked
  add_record(typical, 0x41, server_b, 16567);   // bit 6 ignored, ranked
  add_record(typical, 0x02, server_c, 29900);   // flags 2: listed, never matches
  typical.push_back(0);
  add_record(typical, 0x01, server_c, 1);       // after the closing 0: not read

  bytes_t cut_short = body_head(29900);
  add_record(cut_short, 0x01, server_a, 1111);
  cut_short.push_back(0x01);                    // a record without its port
  cut_short.insert(cut_short.end(), server_b, server_b + 4);

  bytes_t full = body_head(29900);
  for (uint32_t i = 0; i < 8001; ++i) {
    const uint8_t a[4] = {10, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8),
                          static_cast<uint8_t>(i)};
    add_record(full, 0x81, a);
  }
  // The largest list a master may send: records, the closing 0, and padding.
  bytes_t longest = body_head(29900);
  add_record(longest, 0x81, server_a);
  add_record(longest, 0x01, server_b, 16567);
  longest.resize(64000 - 33, 0);
  bytes_t too_long = longest;
  too_long.push_back(0);

  bytes_t head_only = body_head(29900);
  const bytes_t empty43 = seal(head_only, nonce);
  bytes_t short42 = empty43;
  short42.pop_back();

  const blob_case cases[] = {
      {"typical", seal(typical, nonce), 0, 3},
      {"43 bytes: no records", empty43, 0, 0},
      {"42 bytes", short42, 1, 0},
      {"version 2", seal(typical, nonce, 2), 1, 0},
      {"record cut short", seal(cut_short, nonce), 0, 1},
      {"8001 records", seal(full, nonce), 0, 8000},
      {"64000 bytes", seal(longest, nonce), 0, 2},
      {"64001 bytes", seal(too_long, nonce), 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bytes_t before = c.blob;
    EXPECT_EQ(ranked::verify_ranked_blob(c.blob.data(), c.blob.size()), c.verdict);
    EXPECT_EQ(c.blob, before) << "verification leaves the blob as it is";
    ranked::ranked_reset();
    EXPECT_EQ(ranked::install_ranked_blob(c.blob.data(), c.blob.size()), c.verdict);
    EXPECT_EQ(ranked::ranked_count(), c.verdict == 0 ? c.entries : 0u);
  }

  // The typical list: sorted in table order, flags from the low six bits.
  ASSERT_EQ(ranked::install_ranked_blob(cases[0].blob.data(), cases[0].blob.size()), 0);
  uint8_t e[8];
  ASSERT_TRUE(ranked::ranked_entry(0, e));
  EXPECT_EQ(bytes_t(e, e + 8), (bytes_t{10, 1, 2, 3, 0x74, 0xCC, 1, 0}));
  ASSERT_TRUE(ranked::ranked_entry(1, e));
  EXPECT_EQ(bytes_t(e, e + 8), (bytes_t{10, 1, 2, 4, 0x40, 0xB7, 1, 0}));
  ASSERT_TRUE(ranked::ranked_entry(2, e));
  EXPECT_EQ(bytes_t(e, e + 8), (bytes_t{192, 168, 0, 9, 0x74, 0xCC, 2, 0}));
  EXPECT_TRUE(ranked::ranked_lookup(addr(server_a), net_port(29900)));
  EXPECT_TRUE(ranked::ranked_lookup(addr(server_b), net_port(16567)));
  EXPECT_FALSE(ranked::ranked_lookup(addr(server_c), net_port(29900))) << "flags 2 never match";
  EXPECT_FALSE(ranked::ranked_lookup(addr(server_a), net_port(29901))) << "same address, other port";
  EXPECT_FALSE(ranked::ranked_lookup(addr(server_c), net_port(1)));

  // The first 8000 of 8001 records, whatever their order in the table.
  ASSERT_EQ(ranked::install_ranked_blob(cases[5].blob.data(), cases[5].blob.size()), 0);
  const uint8_t last_in[4] = {10, 0, 0x1F, 0x3F};   // record 7999
  const uint8_t dropped[4] = {10, 0, 0x1F, 0x40};   // record 8000
  EXPECT_TRUE(ranked::ranked_lookup(addr(last_in), net_port(29900)));
  EXPECT_FALSE(ranked::ranked_lookup(addr(dropped), net_port(29900)));
  // Every listed server is found and none beside them, on another port or just
  // past the list: a full list sets enough filter bits that some of these
  // pass the filter and are settled by the search.
  int found = 0, strays = 0;
  for (uint32_t i = 0; i < 16000; ++i) {
    const uint8_t a[4] = {10, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8),
                          static_cast<uint8_t>(i)};
    found += ranked::ranked_lookup(addr(a), net_port(29900));
    strays += ranked::ranked_lookup(addr(a), net_port(29901));
  }
  EXPECT_EQ(found, 8000);
  EXPECT_EQ(strays, 0);
}

TEST_F(RankedStore, AnyChangedByteOfNonceOrBodyFailsAndLeavesTheTable) {
  bytes_t body = body_head(29900);
  add_record(body, 0x81, server_a);
  add_record(body, 0x01, server_b, 7);
  const bytes_t good = seal(body, nonce_of(2));
  ASSERT_EQ(ranked::install_ranked_blob(good.data(), good.size()), 0);
  for (size_t at = 1; at < good.size(); ++at) {
    bytes_t changed = good;
    changed[at] ^= static_cast<uint8_t>(1u << (at % 8));
    ASSERT_EQ(ranked::verify_ranked_blob(changed.data(), changed.size()), 1) << "byte " << at;
    ASSERT_EQ(ranked::install_ranked_blob(changed.data(), changed.size()), 1) << "byte " << at;
  }
  EXPECT_EQ(ranked::ranked_count(), 2u) << "a refused blob leaves the table untouched";
  EXPECT_TRUE(ranked::ranked_lookup(addr(server_a), net_port(29900)));
}

TEST_F(RankedStore, ReferenceMasterSealsTheSameBlob) {
  const service::ranked_keys keys = ranked_test::dll_keys();
  const std::vector<service::ranked_server> servers = {
      {addr(server_a), 29900, 1}, {addr(server_b), 16567, 1}, {addr(server_c), 29900, 2}};
  const bytes_t plain = service::ranked_body(0x12345678, 29900, servers);
  bytes_t expected = body_head(29900);
  add_record(expected, 0x81, server_a);
  add_record(expected, 0x01, server_b, 16567);
  add_record(expected, 0x82, server_c);
  expected.push_back(0);
  EXPECT_EQ(plain, expected);
  const bytes_t nonce = nonce_of(3);
  EXPECT_EQ(service::seal_ranked_blob(keys, nonce.data(), plain), seal(expected, nonce));
}

TEST_F(RankedStore, FileRules) {
  bytes_t body = body_head(29900);
  add_record(body, 0x81, server_a);
  const bytes_t blob = seal(body, nonce_of(4));
  auto file_of = [](const char* magic, uint32_t length, const bytes_t& blob_bytes) {
    bytes_t f(magic, magic + 4);
    f.resize(8);
    bytes::store_u32le(f.data() + 4, length);
    f.insert(f.end(), blob_bytes.begin(), blob_bytes.end());
    return f;
  };
  bytes_t padded = blob;
  padded.resize(64001, 0);
  const struct {
    const char* name;
    bytes_t file;
    int result;
  } cases[] = {
      {"valid", file_of("HRC1", static_cast<uint32_t>(blob.size()), blob), 0},
      {"length 0", file_of("HRC1", 0, blob), 1},
      {"length 64001", file_of("HRC1", 64001, padded), 1},
      {"foreign magic", file_of("HRT1", static_cast<uint32_t>(blob.size()), blob), 1},
      {"header cut", bytes_t{'H', 'R', 'C', '1', 40, 0}, 1},
      {"no blob byte", file_of("HRC1", 40, {}), 1},
      // Shorter than it says: what was read is installed (and fails to verify).
      {"blob cut", file_of("HRC1", 200, bytes_t(blob.begin(), blob.end() - 1)), 1},
      // Longer than it says: the stated length is read.
      {"trailing bytes", [&] {
         bytes_t f = file_of("HRC1", static_cast<uint32_t>(blob.size()), blob);
         f.push_back(0x55);
         return f;
       }(), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ranked::ranked_reset();
    write_file(c.file);
    EXPECT_EQ(ranked::load_ranked_list(), c.result);
    EXPECT_EQ(ranked::ranked_count(), c.result == 0 ? 1u : 0u);
  }
  std::filesystem::remove(file_path());
  EXPECT_EQ(ranked::load_ranked_list(), 1) << "no file";

  // The writer's file loads back, and it replaces an earlier one whole.
  ASSERT_EQ(ranked::write_ranked_file(padded.data(), padded.size() - 1), 0);
  ASSERT_EQ(ranked::write_ranked_file(blob.data(), blob.size()), 0);
  std::ifstream in(file_path(), std::ios::binary);
  const bytes_t written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, file_of("HRC1", static_cast<uint32_t>(blob.size()), blob));
  EXPECT_FALSE(std::filesystem::exists(file_path() + ".tmp"));
  ranked::ranked_reset();
  EXPECT_EQ(ranked::load_ranked_list(), 0);
  EXPECT_TRUE(ranked::ranked_lookup(addr(server_a), net_port(29900)));
}

}  // namespace

namespace {

// The reference master reads its keys from the same deployment file the
// library was built from, and refuses a malformed one.
TEST(RankedKeys, ServiceReadsTheBuildsValuesFromTheDeploymentFile) {
  service::deploy_values values;
  std::string error;
  ASSERT_TRUE(service::read_deploy_file(OSTREL_SOURCE_DIR "/deploy/dev.conf", values, error)) << error;
  service::ranked_keys keys;
  ASSERT_TRUE(service::read_ranked_keys(values, keys));
  EXPECT_EQ(std::memcmp(keys.key_chain, deploy::ranked_key_chain, 16), 0);
  EXPECT_EQ(std::memcmp(keys.mac_chain, deploy::ranked_mac_chain, 16), 0);
  EXPECT_EQ(std::memcmp(keys.feedback, deploy::ranked_feedback, 16), 0);
  EXPECT_EQ(values.get("master_host"), deploy::master_host);

  const std::string fifteen = "0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00";
  for (const std::string& feedback :
       {std::string("0x01 0x02"), "0x100 " + fifteen, fifteen + " 0x00 0x00"}) {
    SCOPED_TRACE(feedback);
    values.values["ranked_feedback"] = feedback;
    EXPECT_FALSE(service::read_ranked_keys(values, keys));
  }
}

}  // namespace
