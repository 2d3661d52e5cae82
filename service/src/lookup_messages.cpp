// The lookup protocol on the service's side: the mirror of what the library
// checks.  Request code: keyed MD5 over id, time, tag and record in clear.
// Answer: D1 = keyed MD5(time, hi, lo, id, nonce) masks the payload, and
// D2 = keyed MD5(nonce, id, time, lo, hi, payload) is the code.
#include "service/lookup_messages.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "digest/md5.h"

namespace service {
namespace {

constexpr uint8_t magic[5] = {'H', 'H', 'H', 'L', '3'};
constexpr size_t request_fixed_size = 38;
constexpr size_t request_id = 6;
constexpr size_t request_time = 14;
constexpr size_t request_tag = 18;
constexpr size_t request_record = 22;

struct keyed_md5 {
  digest::md5_context ctx;
  explicit keyed_md5(const uint32_t chain[4]) { digest::md5_start_chained(ctx, chain); }
  keyed_md5& add(const void* data, size_t size) {
    digest::md5_update(ctx, data, static_cast<uint32_t>(size));
    return *this;
  }
  const uint8_t* finish() {
    digest::md5_final(ctx);
    return ctx.digest;
  }
};

}  // namespace

uint8_t lookup_payload::address_number(uint32_t address) {
  for (size_t i = 0; i < addresses.size(); ++i)
    if (addresses[i] == address) return static_cast<uint8_t>(i + 1);
  addresses.push_back(address);
  return static_cast<uint8_t>(addresses.size());
}

void lookup_payload::add_record(uint8_t type, uint32_t key, const std::vector<uint8_t>& extra,
                                const std::vector<uint8_t>& indices, int n) {
  const unsigned count = n < 0 ? static_cast<unsigned>(indices.size()) : static_cast<unsigned>(n);
  records.push_back(static_cast<uint8_t>((type & 0xF0) | (count & 0x0F)));
  uint8_t k[4];
  bytes::store_u32le(k, key);
  records.insert(records.end(), k, k + 4);
  records.insert(records.end(), extra.begin(), extra.end());
  records.insert(records.end(), indices.begin(), indices.end());
  ++record_count;
}

std::vector<uint8_t> lookup_payload::bytes() const {
  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>(record_count));
  out.push_back(static_cast<uint8_t>(addresses.size()));
  for (uint32_t a : addresses) {
    uint8_t b[4];
    bytes::store_u32le(b, a);  // network order bytes, as held
    out.insert(out.end(), b, b + 4);
  }
  out.insert(out.end(), records.begin(), records.end());
  return out;
}

lookup_payload payload_from_table(
    const std::vector<std::pair<uint32_t, std::vector<uint32_t>>>& table, size_t* left_out) {
  lookup_payload p;
  size_t skipped = 0;
  for (const auto& [key, addresses] : table) {
    // A client stops reading the answer at a record whose first address is
    // 0.0.0.0, losing every name behind it: such an entry, like one with no
    // address at all, is left out.
    if (addresses.empty() || addresses[0] == 0) {
      ++skipped;
      continue;
    }
    // Each entry must still fit the one-byte counts and the largest answer a
    // client takes; an entry that would not is left out rather than wrapping a count.
    lookup_payload next = p;
    std::vector<uint8_t> indices;
    bool fits = true;
    for (size_t i = 0; i < addresses.size() && i < 15 && fits; ++i) {
      fits = next.addresses.size() < 255 || std::count(next.addresses.begin(), next.addresses.end(),
                                                       addresses[i]) > 0;
      if (fits) indices.push_back(next.address_number(addresses[i]));
    }
    if (indices.empty()) {  // its first address would be number 256
      ++skipped;
      continue;
    }
    next.add_record(0x00, key, {}, indices);
    if (!fits || next.record_count > 255 || next.bytes().size() > lookup_payload_max_size) {
      ++skipped;
      continue;
    }
    p = next;
  }
  if (left_out) *left_out = skipped;
  return p;
}

bool decode_lookup_request(const uint32_t chain[4], const uint8_t* data, size_t size,
                           lookup_request_seen& out) {
  if (size < request_fixed_size || std::memcmp(data, magic, 5) != 0 || data[5] != 0x51)
    return false;
  std::vector<uint8_t> clear(data, data + size - 16);
  for (size_t i = request_time; i < clear.size(); ++i) clear[i] ^= data[request_id + (i - 6) % 8];
  std::memcpy(out.id, data + request_id, 8);
  out.time = bytes::load_u32le(clear.data() + request_time);
  out.tag = bytes::load_u32le(clear.data() + request_tag);
  out.host_image_record.assign(clear.begin() + request_record, clear.end());
  keyed_md5 code(chain);
  code.add(clear.data() + request_id, clear.size() - request_id);
  out.code_ok = std::memcmp(code.finish(), data + size - 16, 16) == 0;
  return true;
}

namespace {
// D1, the payload's mask, and the words both digests take from the request.
struct answer_keys {
  uint8_t t[4], hi[2], lo[2], mask[16];
  answer_keys(const uint32_t chain[4], const uint8_t id[8], uint32_t time, uint32_t tag,
              const uint8_t nonce[8]) {
    bytes::store_u32le(t, time);
    bytes::store_u16le(hi, static_cast<uint16_t>((tag >> 16) ^ 0x5181u));
    bytes::store_u16le(lo, static_cast<uint16_t>((tag & 0xFFFFu) ^ 0x6BACu));
    std::memcpy(mask, keyed_md5(chain).add(t, 4).add(hi, 2).add(lo, 2).add(id, 8).add(nonce, 8).finish(),
                16);
  }
};

// D2 over the payload in clear; its 16 bytes live in the returned context.
digest::md5_context answer_code(const uint32_t chain[4], const answer_keys& k, const uint8_t nonce[8],
                                const uint8_t id[8], const std::vector<uint8_t>& payload) {
  keyed_md5 code(chain);
  code.add(nonce, 8).add(id, 8).add(k.t, 4).add(k.lo, 2).add(k.hi, 2);
  if (!payload.empty()) code.add(payload.data(), payload.size());
  code.finish();
  return code.ctx;
}
}  // namespace

bool open_lookup_answer(const uint32_t chain[4], const uint8_t id[8], uint32_t time, uint32_t tag,
                        const uint8_t* body, size_t size, std::vector<uint8_t>& payload) {
  payload.clear();
  if (size < 24) return false;
  const uint8_t* nonce = body;
  answer_keys k(chain, id, time, tag, nonce);
  for (size_t j = 24; j < size; ++j) payload.push_back(body[j] ^ k.mask[(j - 24) % 16]);
  return std::memcmp(answer_code(chain, k, nonce, id, payload).digest, body + 8, 16) == 0;
}

std::vector<uint8_t> build_lookup_answer(const uint32_t chain[4], const uint8_t id[8],
                                         uint32_t time, uint32_t tag, const uint8_t nonce[8],
                                         const std::vector<uint8_t>& payload) {
  answer_keys k(chain, id, time, tag, nonce);
  const digest::md5_context code = answer_code(chain, k, nonce, id, payload);

  // Sized once and filled in place: growing a small vector by insert makes
  // GCC 12 at -O3 see a copy past its first buffer.
  std::vector<uint8_t> out(5 + 1 + 8 + 16 + payload.size());
  std::copy(magic, magic + 5, out.begin());
  out[5] = 0x4F;
  std::copy(nonce, nonce + 8, out.begin() + 6);
  std::copy(code.digest, code.digest + 16, out.begin() + 14);
  for (size_t j = 0; j < payload.size(); ++j) out[30 + j] = payload[j] ^ k.mask[j % 16];
  return out;
}

}  // namespace service
