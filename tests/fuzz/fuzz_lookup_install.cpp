// Arbitrary lookup answer payloads, signed here so that the answer passes its
// code check and the record parser is reached.  The parser runs twice: on an
// exactly sized heap copy (so any read past the payload is caught) and through
// verify-and-install into the process-wide table.
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "deploy_values.h"
#include "digest/md5.h"
#include "lookup_signing.h"
#include "redirect/address_table.h"
#include "redirect/lookup_answer.h"
#include "redirect/lookup_protocol.h"
#include "redirect/lookup_records.h"

namespace {

using fuzz_support::check;
using fuzz_support::keyed;

// The answer body (nonce, code, masked payload) for the fixed request below.
std::vector<uint8_t> signed_body(const std::vector<uint8_t>& payload) {
  static const uint8_t id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  static const uint8_t nonce[8] = {8, 7, 6, 5, 4, 3, 2, 1};
  // time 1000, client tag (hi = lo = 0)
  std::vector<uint8_t> m1 = {0xE8, 0x03, 0, 0, 0, 0, 0, 0};
  m1.insert(m1.end(), id, id + 8);
  m1.insert(m1.end(), nonce, nonce + 8);
  std::vector<uint8_t> m2(nonce, nonce + 8);
  m2.insert(m2.end(), id, id + 8);
  m2.insert(m2.end(), {0xE8, 0x03, 0, 0, 0, 0, 0, 0});
  m2.insert(m2.end(), payload.begin(), payload.end());
  uint8_t mask[16], code[16];
  keyed(m1, mask);
  keyed(m2, code);
  std::vector<uint8_t> body(nonce, nonce + 8);
  body.insert(body.end(), code, code + 16);
  for (size_t j = 0; j < payload.size(); ++j) body.push_back(payload[j] ^ mask[j % 16]);
  return body;
}

// Every entry lies inside the table, one after another, up to the terminator.
void check_table(const redirect::table_view& t) {
  check(t.end + redirect::table_terminator_size <= t.capacity);
  check(bytes::load_u16le(t.area + t.end) == 0);
  size_t at = 0;
  while (at < t.end) {
    check(t.area[at + redirect::entry_reserved] == 0);
    at += redirect::entry_header_size + 4u * t.area[at + redirect::entry_count];
  }
  check(at == t.end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = redirect::address_table_allocate() == 0;
  check(ready);
  const size_t max_payload = redirect::lookup_body_max_size - redirect::lbody_payload;
  const std::vector<uint8_t> payload(data, data + (size < max_payload ? size : max_payload));

  uint8_t* exact = new uint8_t[payload.size() + 1];  // +1: never a zero-sized array
  if (!payload.empty()) std::memcpy(exact, payload.data(), payload.size());
  std::vector<uint8_t> area(redirect::address_table_size);
  redirect::table_view staged{area.data(), area.size(), 0};
  const int parsed = redirect::parse_lookup_payload(exact, payload.size(), staged);
  delete[] exact;
  check(parsed == 0 || parsed == 1);
  check_table(staged);

  const std::vector<uint8_t> body = signed_body(payload);
  static const uint8_t id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const int installed =
      redirect::verify_and_install(body.data(), body.size(), id, 1000, 0x51816BAC, true);
  check(installed == parsed);

  // What the table answers is what the parser built.
  for (size_t at = 0; at < staged.end;) {
    const uint32_t key = bytes::load_u32le(area.data() + at + redirect::entry_key);
    redirect::table_entry staged_entry{}, live_entry{};
    const int in_staged = redirect::table_find(area.data(), staged.end, key, &staged_entry);
    const int in_live = redirect::find_entry(key, &live_entry);
    check(in_staged == in_live);
    if (in_live == 0) check(live_entry.count > 0 && live_entry.first_address == staged_entry.first_address);
    at += redirect::entry_header_size + 4u * area[at + redirect::entry_count];
  }
  return 0;
}
