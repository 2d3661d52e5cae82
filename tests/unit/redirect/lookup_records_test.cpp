// The lookup answer's record parser: every record type, counts borrowed from
// earlier records, lists reused, duplicates, entries that hide the rest, a full
// table, and indices that point anywhere (ASan sees any read outside the
// exactly sized payload).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "redirect/address_table.h"
#include "redirect/lookup_records.h"
#include "service/lookup_messages.h"

namespace {

using service::lookup_payload;

struct entry {
  uint32_t key;
  unsigned count;
  uint32_t aux_first, aux_second;
  std::vector<uint32_t> addresses;
  bool operator==(const entry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const entry& e) {
  os << std::hex << "{key " << e.key << " count " << std::dec << e.count << " aux " << std::hex
     << e.aux_first << "," << e.aux_second << " addrs";
  for (uint32_t a : e.addresses) os << " " << a;
  return os << "}";
}

// Every entry between the start and the end position, hidden ones included.
std::vector<entry> stored(const redirect::table_view& t) {
  std::vector<entry> out;
  for (size_t at = 0; at < t.end;) {
    const uint8_t* p = t.area + at;
    entry e{bytes::load_u32le(p + 2), p[1], bytes::load_u32le(p + 6), bytes::load_u32le(p + 10), {}};
    for (unsigned i = 0; i < e.count; ++i) e.addresses.push_back(bytes::load_u32le(p + 14 + 4 * i));
    out.push_back(e);
    at += 14 + 4u * e.count;
  }
  return out;
}

// Addresses 1 to 4 of every payload below (network order values as loaded).
constexpr uint32_t a1 = 0x0100000A, a2 = 0x0200000A, a3 = 0x0300000A, a4 = 0x0400000A;

lookup_payload four_addresses() {
  lookup_payload p;
  for (uint32_t a : {a1, a2, a3, a4}) p.address_number(a);
  return p;
}

struct parse_case {
  const char* what;
  std::vector<uint8_t> payload;
  int result;
  std::vector<entry> entries;
};

std::vector<parse_case> cases() {
  std::vector<parse_case> out;
  auto add = [&](const char* what, const lookup_payload& p, int result, std::vector<entry> e) {
    out.push_back({what, p.bytes(), result, std::move(e)});
  };
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x11, {}, {2, 1});
    p.add_record(0x10, 0x12, {3}, {4});
    p.add_record(0x20, 0x13, {1, 0}, {2});
    p.add_record(0x30, 0x14, {}, {3, 4});
    p.add_record(0x50, 0x15, {}, {1});
    add("each type with its own list", p, 0,
        {{0x11, 2, 0, 0, {a2, a1}},
         {0x12, 1, a3, a3, {a4}},
         {0x13, 1, a1, 0, {a2}},
         {0x14, 2, a1, 0, {a3, a4}},
         {0x15, 1, 0, 0, {a1}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x20, 0x21, {4, 3}, {1, 2, 3});
    p.add_record(0x40, 0x22, {}, {4, 4, 4});  // own index bytes skipped
    p.add_record(0x00, 0x23, {}, {4});
    add("0x40 reuses the previous list and pair", p, 0,
        {{0x21, 3, a4, a3, {a1, a2, a3}},
         {0x22, 3, a4, a3, {a1, a2, a3}},
         {0x23, 1, 0, 0, {a4}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x31, {}, {1, 2});
    p.add_record(0x10, 0x32, {4}, {}, 0);  // reads 2 indices from the bytes behind it
    p.records.insert(p.records.end(), {0x03, 0x33, 0, 0, 0});  // header 0x03 = index 3; key byte 0x33 = index 51
    p.record_count = 3;
    add("n = 0 takes the last count; next record right after the extra index", p, 0,
        {{0x31, 2, 0, 0, {a1, a2}}, {0x32, 2, a4, a4, {a3, 0}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x41, {}, {1});
    p.add_record(0x00, 0x41, {}, {2});
    p.add_record(0x00, 0x42, {}, {3});
    add("a repeated key adds nothing", p, 0, {{0x41, 1, 0, 0, {a1}}, {0x42, 1, 0, 0, {a3}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x10, 0x51, {2}, {}, 0);  // count 0: the byte after is the next header
    p.add_record(0x01, 0x52, {}, {}, 1);   // header 0x01 doubles as index 1
    p.records.push_back(3);
    add("a first record of count 0 is stored", p, 0,
        {{0x51, 0, a2, a2, {}}, {0x52, 1, 0, 0, {a3}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x10, 0x53, {2}, {}, 0);  // count 0: hides the rest from searches
    p.add_record(0x01, 0x54, {}, {}, 1);
    p.records.push_back(3);
    p.add_record(0x00, 0x54, {}, {4});
    add("a repeated key behind a count-0 entry adds nothing", p, 0,
        {{0x53, 0, a2, a2, {}}, {0x54, 1, 0, 0, {a3}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x20, 0x55, {3, 4}, {1, 2});
    p.add_record(0x30, 0x56, {}, {}, 0);  // its list: the next header (index 2) and key byte 4
    p.add_record(0x00, 0x5704, {}, {1, 3});
    add("0x30 with n = 0 after the first record borrows count and pair", p, 0,
        {{0x55, 2, a3, a4, {a1, a2}}, {0x56, 2, a3, a4, {a2, a4}}, {0x5704, 2, 0, 0, {a1, a3}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x58, {}, {1});
    p.add_record(0x00, 0x59, {}, {}, 0);
    p.add_record(0x00, 0x5A, {}, {2});
    add("0x00 with n = 0 after the first record stops", p, 0, {{0x58, 1, 0, 0, {a1}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x61, {}, {}, 0);
    p.add_record(0x00, 0x62, {}, {1});
    add("first record 0x00 with n = 0: empty and valid", p, 0, {});
  }
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x71, {}, {1});
    p.add_record(0x50, 0x72, {}, {}, 0);
    p.add_record(0x00, 0x73, {}, {1});
    add("n = 0 above 0x40 stops", p, 0, {{0x71, 1, 0, 0, {a1}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x30, 0x74, {}, {}, 0);
    add("first record 0x30 with n = 0 stops", p, 0, {});
  }
  {
    auto p = four_addresses();
    p.add_record(0x40, 0x75, {}, {1});
    p.add_record(0x00, 0x76, {}, {1});
    add("first record 0x40 has no list to reuse: stops", p, 0, {});
  }
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x81, {}, {1});
    p.add_record(0x00, 0x82, {}, {0});
    p.add_record(0x00, 0x83, {}, {1});
    add("first index 0 stops", p, 0, {{0x81, 1, 0, 0, {a1}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x84, {}, {5});
    add("first index above A stops", p, 0, {});
  }
  {
    lookup_payload p;
    p.address_number(0);
    p.address_number(a1);
    p.add_record(0x00, 0x85, {}, {1, 2});
    add("first address 0.0.0.0 stops", p, 0, {});
  }
  {
    auto p = four_addresses();
    p.add_record(0x20, 0x86, {0, 200}, {1, 0, 9, 4});
    add("other indices outside 1..A name 0.0.0.0", p, 0, {{0x86, 4, 0, 0, {a1, 0, 0, a4}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x87, {}, {1});
    p.add_record(0x00, 0x88, {}, {1, 2, 3});
    p.records.resize(p.records.size() - 1);  // the second record runs past the payload
    add("a record past the end stops", p, 0, {{0x87, 1, 0, 0, {a1}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x89, {}, {1, 2, 3});
    p.add_record(0x10, 0x8A, {1}, {}, 0);  // borrows count 3, but the payload ends here
    add("a borrowed list past the end reads as index 0", p, 0, {{0x89, 3, 0, 0, {a1, a2, a3}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x8B, {}, {1, 2});
    p.add_record(0x10, 0x8C, {1}, {}, 0);
    p.records.push_back(2);  // one of the two borrowed indices lies inside
    add("a borrowed list partly past the end", p, 0,
        {{0x8B, 2, 0, 0, {a1, a2}}, {0x8C, 2, a1, a1, {a2, 0}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x91, {}, {1});
    p.add_record(0x00, 0x92, {}, {2});
    p.record_count = 1;
    add("C limits the records read", p, 0, {{0x91, 1, 0, 0, {a1}}});
  }
  {
    auto p = four_addresses();
    p.add_record(0x00, 0x93, {}, {1});
    p.records.insert(p.records.end(), {0x01, 0, 0, 0});  // four bytes left
    p.record_count = 2;
    add("fewer than five bytes left stop", p, 0, {{0x93, 1, 0, 0, {a1}}});
  }
  out.push_back({"C = 0 is invalid", {0, 1, 10, 0, 0, 1, 0x00, 1, 0, 0, 0, 1}, 1, {}});
  out.push_back({"A = 0 is invalid", {1, 0, 0x01, 1, 0, 0, 0, 1}, 1, {}});
  out.push_back({"an empty payload is invalid", {}, 1, {}});
  out.push_back({"an address list longer than the payload", {1, 200, 10, 0, 0, 1, 0x01}, 0, {}});
  return out;
}

TEST(LookupRecords, ParsesEveryCase) {
  std::vector<uint8_t> area(redirect::address_table_size, 0xEE);
  for (const parse_case& c : cases()) {
    SCOPED_TRACE(c.what);
    // Exactly sized, so that any read past the payload is caught.
    std::vector<uint8_t> payload = c.payload;
    payload.shrink_to_fit();
    redirect::table_view t{area.data(), area.size(), 12345};
    EXPECT_EQ(redirect::parse_lookup_payload(payload.data(), payload.size(), t), c.result);
    EXPECT_EQ(stored(t), c.entries);
    EXPECT_EQ(bytes::load_u16le(t.area + t.end), 0) << "terminator";
  }
}

TEST(LookupRecords, CountZeroEntryHidesLaterEntriesFromSearch) {
  auto p = four_addresses();
  p.add_record(0x00, 0xA1, {}, {1});
  p.add_record(0x20, 0xA2, {1, 2}, {}, 0);  // n = 0 after a count: count 1, kept
  p.add_record(0x00, 0xA3, {}, {2});
  std::vector<uint8_t> first = p.bytes();

  lookup_payload q = four_addresses();
  q.add_record(0x10, 0xB1, {2}, {}, 0);  // first record: count 0
  q.add_record(0x01, 0xB2, {}, {}, 1);
  q.records.push_back(3);
  std::vector<uint8_t> second = q.bytes();

  std::vector<uint8_t> area(redirect::address_table_size);
  redirect::table_view t{area.data(), area.size(), 0};
  redirect::table_entry found{};
  ASSERT_EQ(redirect::parse_lookup_payload(first.data(), first.size(), t), 0);
  EXPECT_EQ(redirect::table_find(t.area, t.end, 0xA3, &found), 0);
  EXPECT_EQ(found.first_address, a2);

  ASSERT_EQ(redirect::parse_lookup_payload(second.data(), second.size(), t), 0);
  ASSERT_EQ(stored(t).size(), 2u);
  EXPECT_EQ(redirect::table_find(t.area, t.end, 0xB1, &found), 1) << "count 0 is never found";
  EXPECT_EQ(redirect::table_find(t.area, t.end, 0xB2, &found), 1) << "hidden behind count 0";
}

TEST(LookupRecords, FullTableIsInvalidAndKeepsWhatFitted) {
  // 74-byte entries (15 addresses) from five-byte records that reuse one list.
  lookup_payload p;
  std::vector<uint8_t> fifteen(15, p.address_number(0x0100000A));
  p.add_record(0x00, 1, {}, fifteen);
  for (uint32_t k = 2; k <= 200; ++k) p.add_record(0x40, k, {}, {}, 0);
  std::vector<uint8_t> payload = p.bytes();
  std::vector<uint8_t> area(redirect::address_table_size);
  redirect::table_view t{area.data(), area.size(), 0};

  EXPECT_EQ(redirect::parse_lookup_payload(payload.data(), payload.size(), t), 1);
  const size_t fitted = (redirect::address_table_size - 2) / 74;
  EXPECT_EQ(stored(t).size(), fitted);
  EXPECT_LE(t.end + 2, redirect::address_table_size);
  redirect::table_entry last{};
  EXPECT_EQ(redirect::table_find(t.area, t.end, static_cast<uint32_t>(fitted), &last), 0);
  EXPECT_EQ(last.count, 15);

  // An entry that exactly fills the area with its terminator still fits.
  redirect::table_view exact{area.data(), 14 + 4 + 2, 0};
  const uint32_t address = 0x0100000A;
  EXPECT_EQ(redirect::table_add(exact, 7, 1, 0, 0, &address), 0);
  EXPECT_EQ(redirect::table_add(exact, 8, 1, 0, 0, &address), 1);
}

}  // namespace

// The reference service never wraps a one-byte count or outgrows the largest
// answer a client takes: entries that would are left out.
TEST(LookupPayloadFromTable, LeavesOutWhatWouldNotFit) {
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> many_addresses;
  for (uint32_t k = 0; k < 300; ++k) many_addresses.push_back({k + 1, {0x0A000000u + k}});
  size_t left = 0;
  const auto p = service::payload_from_table(many_addresses, &left);
  EXPECT_LE(p.addresses.size(), 255u);
  EXPECT_LE(p.bytes().size(), service::lookup_payload_max_size);
  EXPECT_EQ(p.record_count + left, 300u);
  EXPECT_EQ(p.bytes()[0], p.record_count);

  redirect::table_view table{nullptr, 0, 0};
  std::vector<uint8_t> area(redirect::address_table_size);
  table.area = area.data();
  table.capacity = area.size();
  const auto payload = p.bytes();
  EXPECT_EQ(redirect::parse_lookup_payload(payload.data(), payload.size(), table), 0);
  EXPECT_EQ(stored(table).size(), p.record_count);
}

// Every entry the service drops is counted, and none that would stop a
// client's reading (0.0.0.0 first) goes out.
TEST(LookupPayloadFromTable, CountsEveryEntryLeftOut) {
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> table;
  table.push_back({1, {}});                       // no address
  table.push_back({2, {0, 0x0B00000Au}});         // 0.0.0.0 first
  for (uint32_t r = 0; r < 17; ++r) {             // 255 addresses, fifteen a record
    std::vector<uint32_t> fifteen;
    for (uint32_t i = 0; i < 15; ++i) fifteen.push_back(0x0A000000u + ((r * 15 + i) << 8));
    table.push_back({100 + r, fifteen});
  }
  table.push_back({400, {0x0C00000Au}});          // would be address number 256
  table.push_back({401, {0x0A000000u}});          // listed already: fits
  size_t left = 0;
  const auto p = service::payload_from_table(table, &left);
  EXPECT_EQ(left, 3u);
  EXPECT_EQ(p.record_count, 18u);
  EXPECT_EQ(p.addresses.size(), 256u - 1);

  std::vector<uint8_t> area(redirect::address_table_size);
  redirect::table_view t{area.data(), area.size(), 0};
  const auto payload = p.bytes();
  EXPECT_EQ(redirect::parse_lookup_payload(payload.data(), payload.size(), t), 0);
  redirect::table_entry e{};
  EXPECT_EQ(redirect::table_find(t.area, t.end, 401, &e), 0) << "names after the drops still arrive";
  EXPECT_EQ(redirect::table_find(t.area, t.end, 2, &e), 1);
  EXPECT_EQ(redirect::table_find(t.area, t.end, 400, &e), 1);
}
