// What the script module's digests carry of the server: its ports, addresses
// and provider ID, fed to MD5 in the one form that the statistics service
// recomputes: a port as its low 16 bits, low byte first; an address as its
// four stored (network-order) bytes; a text without its NUL.
#pragma once
#include <cstdint>

#include "digest/md5.h"

namespace script {

struct server_identity {
  uint32_t game_port;
  uint32_t query_port;
  uint32_t server_address;     // network byte order
  uint32_t interface_address;  // network byte order
  const char* provider_id;
};

void feed_port(digest::md5_context& ctx, uint32_t port);
void feed_address(digest::md5_context& ctx, uint32_t address);

}  // namespace script
