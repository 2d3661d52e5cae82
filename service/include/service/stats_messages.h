// The statistics service's side of the snapshot upload and session exchange:
// its own decoding of "HSNAP1" bodies and "X-Ostrel-tsdata" values, and of
// "HRSQ" requests, and the "HRSR" replies it signs.  Written from the formats,
// not from the library's code, so that a mistake on one side shows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "service/deploy_file.h"

namespace service {

// The deployment's statistics values.
struct stats_keys {
  uint8_t identity_start = 0;
  uint8_t request_start = 0;
  uint8_t reply_start = 0;
  uint32_t mask_a = 0;
  uint32_t mask_b = 0;
};
bool stats_keys_from(const deploy_values& values, stats_keys& out, std::string& error);

// A snapshot as the service decoded it.
struct snapshot_seen {
  std::string provider_id;  // the known provider whose digests matched
  uint32_t time = 0;        // T, when the library built it
  uint16_t game_port = 0;
  uint16_t query_port = 0;
  uint32_t interface_address = 0;  // network byte order
  uint32_t server_address = 0;
  std::vector<uint8_t> data;  // deciphered
  // From the tsdata value.
  uint32_t exchange_midpoint = 0;
  uint32_t service_time = 0;
  uint32_t start_time = 0;
  uint32_t header_time = 0;  // T2, when the header was made
  uint32_t from_address = 0;
};

// Deciphers a snapshot body (after "HSNAP1") and finds the provider among
// providers whose check and data digests it carries.  false, with the reason,
// when it is too short or no provider's digests match.
bool decode_snapshot_body(const stats_keys& keys, const uint8_t* body, size_t size,
                          const std::vector<std::string>& providers, snapshot_seen& out,
                          std::string& why);
// Reads the tsdata value into out's four numbers and checks its digest with
// out.provider_id.  false, with the reason, otherwise.
bool decode_tsdata(const stats_keys& keys, const std::string& text, snapshot_seen& out,
                   std::string& why);

// A session request as the service read it.
struct session_request_seen {
  std::string provider_id;
  uint32_t time = 0;
  uint32_t interface_address = 0;
  uint32_t server_address = 0;
  uint16_t game_port = 0;
  uint16_t query_port = 0;
  uint32_t session_flags = 0;
  uint32_t start_time = 0;
  uint32_t process_id = 0;
  uint8_t r[8] = {};
  uint32_t from_address = 0;
  uint16_t from_port = 0;
};
// false when the datagram is not a request signed by one of providers.
bool decode_session_request(const stats_keys& keys, const uint8_t* data, size_t size,
                            const std::vector<std::string>& providers, session_request_seen& out);

// How a reply is made; the variants are the responder's misbehaviour.
struct session_reply_options {
  uint32_t service_time = 0;
  uint32_t session_flags = 0;
  bool digest_without_r = false;
  uint16_t query_port_delta = 0;  // added to the echoed query port
};
std::vector<uint8_t> build_session_reply(const stats_keys& keys, const session_request_seen& request,
                                         const session_reply_options& options);

}  // namespace service
