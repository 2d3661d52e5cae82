// The script service state block: allocated zero-filled by a dedicated server's
// start-up; its fields belong to the snapshot and script subsystems.
#pragma once
#include <cstdint>

namespace core {

struct service_state {
  uint8_t challenge_nonce[16];
  char provider_id[300];
  char mod_directory[28];
  char challenge_time_text[20];
  uint32_t game_port;
  uint32_t query_port;
  uint32_t server_address;     // network byte order
  uint32_t interface_address;  // network byte order
  uint32_t session_flags;
  uint32_t service_time;
  uint32_t exchange_midpoint;
  uint32_t start_time;
};

extern service_state* service;  // null in client mode

}  // namespace core
