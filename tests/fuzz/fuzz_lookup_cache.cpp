// Arbitrary bytes as a look-up cache file.  Each input is offered twice: as it
// is, and with its stored payload taken as clear text, masked and signed for
// its stored id, time and tag (and the clock at its stored time), so that the
// age check and the record parser are reached.
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "deploy_values.h"
#include "digest/md5.h"
#include "lookup_signing.h"
#include "platform/native/test_controls.h"
#include "redirect/address_table.h"
#include "redirect/lookup_cache.h"

namespace {

using fuzz_support::check;
using fuzz_support::keyed;

// Takes the stored payload as clear text: masks it and writes its code.
void resign(std::vector<uint8_t>& file) {
  using namespace redirect;
  if (file.size() < lcf_body + lookup_body_min_size) return;
  const uint8_t* id = file.data() + lcf_id;
  const uint8_t* time = file.data() + lcf_time;
  const uint32_t tag = bytes::load_u32le(file.data() + lcf_tag);
  uint8_t hi[2], lo[2];
  bytes::store_u16le(hi, static_cast<uint16_t>((tag >> 16) ^ 0x5181u));
  bytes::store_u16le(lo, static_cast<uint16_t>((tag & 0xFFFFu) ^ 0x6BACu));
  uint8_t* body = file.data() + lcf_body;
  std::vector<uint8_t> m1(time, time + 4);
  m1.insert(m1.end(), hi, hi + 2);
  m1.insert(m1.end(), lo, lo + 2);
  m1.insert(m1.end(), id, id + 8);
  m1.insert(m1.end(), body, body + 8);
  uint8_t mask[16];
  keyed(m1, mask);
  std::vector<uint8_t> m2(body, body + 8);
  m2.insert(m2.end(), id, id + 8);
  m2.insert(m2.end(), time, time + 4);
  m2.insert(m2.end(), lo, lo + 2);
  m2.insert(m2.end(), hi, hi + 2);
  for (size_t j = lbody_payload; j < file.size() - lcf_body; ++j) {
    m2.push_back(body[j]);
    body[j] ^= mask[(j - lbody_payload) % 16];
  }
  keyed(m2, body + lbody_code);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = redirect::address_table_allocate() == 0;
  check(ready);
  std::vector<uint8_t> file(data, data + size);
  platform::test::set_clock(2000000000);
  const int as_is = redirect::install_cache_bytes(file.data(), file.size(), 43200);
  check(as_is == 0 || as_is == 1);

  resign(file);
  if (file.size() > redirect::lcf_time + 4)
    platform::test::set_clock(bytes::load_u32le(file.data() + redirect::lcf_time));
  const int signed_result = redirect::install_cache_bytes(file.data(), file.size(), 0);
  check(signed_result == 0 || signed_result == 1);
  const bool consistent = file.size() > redirect::lcf_body &&
                          file.size() <= redirect::lookup_cache_max_size &&
                          std::memcmp(file.data(), "HTI1", 4) == 0 &&
                          bytes::load_u16le(file.data() + 4) + 6u == file.size() &&
                          file.size() - redirect::lcf_body >= 24;
  if (!consistent) check(signed_result == 1);
  return 0;
}
