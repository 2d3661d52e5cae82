// Receive filters.  The client corrects the ranked flag of answers from
// servers outside the ranked list; the server captures logins from packets
// on its game socket.  Both return exactly what the real recvfrom returned.
#include "sockets/receive_filters.h"

#include <cstring>

#include "ranked/ranked_refresh.h"
#include "sockets/answer_scans.h"
#include "sockets/dispatch.h"
#include "sockets/login_capture.h"
#include "sockets/traffic_state.h"

namespace sockets {
namespace {

constexpr int socket_address_size = 16;
constexpr uint16_t family_inet = 2;

// The sender from a 16-byte IPv4 source address; false when there is none.
bool sender_of(const void* from, const int* from_length, answer_sender* out) {
  if (!from || !from_length || *from_length < socket_address_size) return false;
  const auto* a = static_cast<const uint8_t*>(from);
  uint16_t family;
  std::memcpy(&family, a, 2);
  if (family != family_inet) return false;
  std::memcpy(&out->port, a + 2, 2);
  std::memcpy(&out->address, a + 4, 4);
  return true;
}

// What the real call put in the buffer: never more than the buffer holds.
size_t received_size(int r, int length) { return static_cast<size_t>(r < length ? r : length); }

}  // namespace

int OSTREL_SOCKAPI client_receive_filter(uintptr_t s, char* buffer, int length, int flags,
                                         void* from, int* from_length) {
  const int r = real_receive(s, buffer, length, flags, from, from_length);
  if (query_socket.load() == platform::invalid_socket || r < static_cast<int>(answer_min_size) ||
      !buffer || ranked::server_browser_mode.load() != 1)
    return r;
  answer_sender sender;
  if (!sender_of(from, from_length, &sender)) return r;
  correct_answer(reinterpret_cast<uint8_t*>(buffer), received_size(r, length), sender);
  return r;
}

int OSTREL_SOCKAPI server_receive_filter(uintptr_t s, char* buffer, int length, int flags,
                                         void* from, int* from_length) {
  const int r = real_receive(s, buffer, length, flags, from, from_length);
  if (r <= 0 || !buffer) return r;
  const uint32_t port = published_game_port();
  if (game_socket.load() == platform::invalid_socket && port != game_port_unset) {
    uint16_t local = 0;
    if (platform::socket_local_port(s, &local) == 0 && local == port) {
      uintptr_t none = platform::invalid_socket;
      game_socket.compare_exchange_strong(none, s);
    }
  }
  if (s != game_socket.load()) return r;
  answer_sender sender;
  if (!sender_of(from, from_length, &sender)) return r;
  login_capture(reinterpret_cast<const uint8_t*>(buffer), received_size(r, length), sender.address);
  return r;
}

}  // namespace sockets
