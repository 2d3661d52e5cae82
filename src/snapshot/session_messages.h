// The session exchange's datagrams: the "HRSQ" request that describes this
// server and the "HRSR" reply that grants session flags and the service's clock.
#pragma once
#include <cstddef>
#include <cstdint>

namespace snapshot {

inline constexpr size_t session_datagram_size = 56;
inline constexpr uint8_t session_request_magic[4] = {'H', 'R', 'S', 'Q'};
inline constexpr uint8_t session_reply_magic[4] = {'H', 'R', 'S', 'R'};
inline constexpr size_t session_random_size = 8;
// Bytes [session_cipher_begin, session_cipher_end) travel enciphered.
inline constexpr size_t session_cipher_begin = 4;
inline constexpr size_t session_cipher_end = 40;

// Request offsets (sq_ = session request).
inline constexpr size_t sq_magic = 0;
inline constexpr size_t sq_time = 4;
inline constexpr size_t sq_interface_address = 8;
inline constexpr size_t sq_server_address = 12;
inline constexpr size_t sq_game_port = 16;
inline constexpr size_t sq_query_port = 18;
inline constexpr size_t sq_session_flags = 20;
inline constexpr size_t sq_start_time = 24;
inline constexpr size_t sq_process_id = 28;
inline constexpr size_t sq_random = 32;
inline constexpr size_t sq_digest = 40;

// Reply offsets (sr_ = session reply); 24 to 39 are not examined.
inline constexpr size_t sr_magic = 0;
inline constexpr size_t sr_service_time = 4;
inline constexpr size_t sr_interface_address = 8;
inline constexpr size_t sr_server_address = 12;
inline constexpr size_t sr_game_port = 16;
inline constexpr size_t sr_query_port = 18;
inline constexpr size_t sr_session_flags = 20;
inline constexpr size_t sr_digest = 40;

// What a request describes and a reply must echo (addresses in network byte
// order, ports by their low 16 bits).
struct session_identity {
  uint32_t interface_address;
  uint32_t server_address;
  uint32_t game_port;
  uint32_t query_port;
};

// Lays out, signs with the provider ID p and enciphers a request.
void build_session_request(uint8_t out[session_datagram_size], const session_identity& id,
                           uint32_t session_flags, uint32_t start_time, uint32_t t0,
                           uint32_t process_id, const uint8_t r[session_random_size],
                           const char* p);

// Checks a received datagram of any length against the request's R, the
// identity and p.  0 and the granted flags and service time when it is a
// valid reply; 1 otherwise.  data is not changed.
int check_session_reply(const uint8_t* data, size_t length, const uint8_t r[session_random_size],
                        const session_identity& id, const char* p, uint32_t* session_flags,
                        uint32_t* service_time);

}  // namespace snapshot
