// Interception state words.
#include "sockets/traffic_state.h"

namespace sockets {

std::atomic<uintptr_t> query_socket{platform::invalid_socket};
std::atomic<uintptr_t> game_socket{platform::invalid_socket};

namespace {
std::atomic<uint32_t> game_port{game_port_unset};
}

void publish_game_port(uint32_t port) { game_port = port; }
uint32_t published_game_port() { return game_port.load(); }

void traffic_state_reset() {
  query_socket = platform::invalid_socket;
  game_socket = platform::invalid_socket;
  game_port = game_port_unset;
}

}  // namespace sockets
