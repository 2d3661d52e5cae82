// What the interception remembers between calls: the query socket, the game
// socket and the game port the script module publishes.  Single words, read
// and written by any host thread.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/net.h"

namespace sockets {

// Client: the socket of the last server query sent.  Server: the socket that
// sent the master-server heartbeat or availability packet.
extern std::atomic<uintptr_t> query_socket;
// Server: the socket bound to the published game port, found once.
extern std::atomic<uintptr_t> game_socket;

inline constexpr uint32_t game_port_unset = 0xFFFFFFFFu;

// The dedicated server's own UDP game port (host byte order), published by the
// script module once the game has told it; until then the server receive
// filter captures no logins.
void publish_game_port(uint32_t port);
uint32_t published_game_port();

// Back to the load-time state (no sockets known, port unset).  For tests.
void traffic_state_reset();

}  // namespace sockets
