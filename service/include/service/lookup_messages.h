// The lookup protocol as the reference service speaks it: answer payloads
// with records of every type, request decoding, answer signing and masking.
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace service {

// An answer payload in clear: C, A, the address list, then the records.
struct lookup_payload {
  std::vector<uint32_t> addresses;  // network byte order
  std::vector<uint8_t> records;
  unsigned record_count = 0;  // written as one byte (cut to 8 bits)

  // The number (from 1) of address, added to the list when new.
  uint8_t address_number(uint32_t address);
  // Appends one record.  n is the header's low four bits; -1 takes the number
  // of indices given (a record may carry fewer or more index bytes than n
  // says, so tests can build any byte sequence).
  void add_record(uint8_t type, uint32_t key, const std::vector<uint8_t>& extra,
                  const std::vector<uint8_t>& indices, int n = -1);
  std::vector<uint8_t> bytes() const;
};

// A request as the service read it.
struct lookup_request_seen {
  uint8_t id[8] = {};
  uint32_t time = 0;
  uint32_t tag = 0;
  std::vector<uint8_t> host_image_record;  // unmasked, with its length field
  bool code_ok = false;
  uint32_t from_address = 0;  // network byte order
  uint16_t from_port = 0;
};

// Decodes a request datagram; false when its layout is not a request's.
bool decode_lookup_request(const uint32_t chain[4], const uint8_t* data, size_t size,
                           lookup_request_seen& out);

// The answer datagram for a request: magic, nonce, code, masked payload.
std::vector<uint8_t> build_lookup_answer(const uint32_t chain[4], const uint8_t id[8],
                                         uint32_t time, uint32_t tag, const uint8_t nonce[8],
                                         const std::vector<uint8_t>& payload);

// The reverse of build_lookup_answer for an answer body (the datagram from its
// nonce on): the payload in clear.  true when the body's code is the one the
// service computes for this request and payload; false (payload still filled
// when the body has the minimum size) otherwise.
bool open_lookup_answer(const uint32_t chain[4], const uint8_t id[8], uint32_t time, uint32_t tag,
                        const uint8_t* body, size_t size, std::vector<uint8_t>& payload);

// The largest payload a client accepts (a 2000-byte answer less its 30-byte head).
inline constexpr size_t lookup_payload_max_size = 1970;

// One type 0x00 record for each key (at most 15 addresses each), in order.
// Entries without an address, with 0.0.0.0 first, or that would overflow a
// one-byte count (255 records or addresses) or the largest payload are left
// out; *left_out, when given, says how many.
lookup_payload payload_from_table(
    const std::vector<std::pair<uint32_t, std::vector<uint32_t>>>& table,
    size_t* left_out = nullptr);

}  // namespace service
