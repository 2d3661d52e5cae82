// The ranked list refresh datagrams between a client and the master server:
// availability query, "HMC1" challenge, "HMQ1" list request and
// acknowledgement, "HMR1" fragment, "HME1" error.  Integers little-endian.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ranked {

inline constexpr uint16_t master_server_port = 27900;

// Availability query: 0x09, four zero bytes, the game's name and its NUL.
inline constexpr uint8_t availability_query[25] = {
    0x09, 0,   0,   0,   0,   'o', 's', 't', 'r', 'e', 'l', '.', 'b',
    'a',  't', 't', 'l', 'e', 'f', 'i', 'e', 'l', 'd', '2', 0};

inline constexpr uint8_t challenge_magic[4] = {'H', 'M', 'C', '1'};
inline constexpr uint8_t request_magic[4] = {'H', 'M', 'Q', '1'};
inline constexpr uint8_t fragment_magic[4] = {'H', 'M', 'R', '1'};
inline constexpr uint8_t error_magic[4] = {'H', 'M', 'E', '1'};

// Challenge ("hmc_"): magic, zero, challenge.
inline constexpr size_t hmc_zero = 4;
inline constexpr size_t hmc_challenge = 8;
inline constexpr size_t challenge_min_size = 12;

// List request and acknowledgement ("hmq_"): magic, session id, kind, then
// for a request 3, the time, the fixed word and the digest; for an
// acknowledgement the received mask.
inline constexpr size_t hmq_session = 4;
inline constexpr size_t hmq_kind = 8;
inline constexpr size_t hmq_three = 9;
inline constexpr size_t hmq_time = 11;
inline constexpr size_t hmq_word = 15;
inline constexpr size_t hmq_digest = 19;
inline constexpr size_t hmq_mask = 9;
inline constexpr uint8_t list_request_kind = 3;
inline constexpr uint8_t acknowledgement_kind = 2;
inline constexpr uint32_t list_request_word = 0x40000101;
inline constexpr size_t list_request_size = 35;
inline constexpr size_t acknowledgement_size = 13;

// Fragment ("hmr_"): magic, session id, index, count, payload offset, payload.
inline constexpr size_t hmr_session = 4;
inline constexpr size_t hmr_index = 8;
inline constexpr size_t hmr_count = 9;
inline constexpr size_t hmr_offset = 10;
inline constexpr size_t hmr_payload = 12;
inline constexpr size_t fragment_max_size = 1500;
inline constexpr unsigned fragment_max_count = 31;

// Error ("hme_"): magic and session id.
inline constexpr size_t hme_session = 4;
inline constexpr size_t error_min_size = 8;

// The list request for a session, time and challenge into out (35 bytes).
void make_list_request(uint8_t* out, uint32_t session, uint32_t time, uint32_t challenge);
// The acknowledgement of the fragments in mask into out (13 bytes).
void make_acknowledgement(uint8_t* out, uint32_t session, uint32_t mask);

}  // namespace ranked
