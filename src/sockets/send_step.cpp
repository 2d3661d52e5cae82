// sendto, connect and closesocket steps of both modes.
#include "sockets/send_step.h"

#include <cstring>

#include "core/launcher.h"
#include "core/process_state.h"
#include "core/settings_file.h"
#include "ranked/ranked_refresh.h"
#include "redirect/redirection_table.h"
#include "sockets/dispatch.h"
#include "sockets/traffic_state.h"

namespace sockets {
namespace {

constexpr uint16_t master_port = 27900;
constexpr uint16_t key_check_port = 29910;
constexpr uint16_t service_port = 29900;
constexpr uint16_t list_port = 28910;
constexpr uint16_t moved_list_port = 28911;
constexpr int socket_address_size = 16;
constexpr uint16_t family_inet = 2;

// Socket address fields ("sa_"): family in host order, port and address in
// network order.
constexpr size_t sa_family = 0;
constexpr size_t sa_port = 2;

uint16_t port_of(const uint8_t* address) {
  return static_cast<uint16_t>((address[sa_port] << 8) | address[sa_port + 1]);
}
uint16_t family_of(const uint8_t* address) {
  uint16_t family;
  std::memcpy(&family, address + sa_family, 2);
  return family;
}

bool is_heartbeat(const uint8_t* d, int length) {
  return length > 20 && d[0] == 0x03 && std::memcmp(d + 5, "localip0", 8) == 0;
}
bool is_availability(const uint8_t* d, int length) {
  static const uint8_t form[18] = {0x09, 0, 0, 0, 0, 'b', 'a', 't', 't',
                                   'l',  'e', 'f', 'i', 'e', 'l', 'd', '2', 0};
  return length == 18 && std::memcmp(d, form, sizeof form) == 0;
}
bool is_query(const uint8_t* d, int length) {
  return length >= 7 && d[0] == 0xFE && d[1] == 0xFD && (d[2] == 0x00 || d[2] == 0x09);
}

void copy_to(const redirect::forward_address& forward, uintptr_t s, const char* buffer,
             int length, int flags) {
  if (forward.port == 0) return;
  uint8_t to[socket_address_size] = {};
  std::memcpy(to + 0, &forward.family, 2);
  std::memcpy(to + 2, &forward.port, 2);
  std::memcpy(to + 4, &forward.address, 4);
  send_forward(s, buffer, length, flags, to, sizeof to);
}

void server_send_step(uintptr_t s, const char* buffer, int length, int flags, const void* to,
                      int to_length) {
  if (!buffer || !to || to_length < socket_address_size) return;
  const auto* d = reinterpret_cast<const uint8_t*>(buffer);
  const uint16_t port = port_of(static_cast<const uint8_t*>(to));
  if (port == master_port && (is_heartbeat(d, length) || is_availability(d, length)))
    query_socket = s;
  if (s != query_socket.load()) return;
  if (port == master_port) {
    core::settings_reload();
    copy_to(redirect::master_forward(), s, buffer, length, flags);
  } else if (port == key_check_port) {
    copy_to(redirect::key_forward(), s, buffer, length, flags);
  }
}

}  // namespace

int OSTREL_SOCKAPI intercept_sendto(uintptr_t s, const char* buffer, int length, int flags,
                                    const void* to, int to_length) {
  if (core::process.operating_mode == core::mode_server) {
    server_send_step(s, buffer, length, flags, to, to_length);
  } else if (buffer && is_query(reinterpret_cast<const uint8_t*>(buffer), length) &&
             core::launcher_verdict.load() != 0) {
    query_socket = s;
  }
  return send_forward(s, buffer, length, flags, to, to_length);
}

const void* connect_target(const void* name, int name_length, uint8_t moved[16], int* length) {
  *length = name_length;
  if (core::process.operating_mode != core::mode_client || core::launcher_verdict.load() == 0)
    return name;
  const auto* address = static_cast<const uint8_t*>(name);
  if (!address || name_length < socket_address_size || family_of(address) != family_inet)
    return name;
  const uint16_t port = port_of(address);
  if (port == service_port || port == list_port) ranked::ranked_list_on_connect(address);
  if (port != list_port || ranked::server_browser_mode.load() != 1) return name;
  std::memcpy(moved, address, socket_address_size);
  moved[sa_port] = static_cast<uint8_t>(moved_list_port >> 8);
  moved[sa_port + 1] = static_cast<uint8_t>(moved_list_port & 0xFF);
  *length = socket_address_size;
  return moved;
}

void socket_closing(uintptr_t s) {
  if (core::process.operating_mode != core::mode_client) return;
  uintptr_t expected = s;
  query_socket.compare_exchange_strong(expected, platform::invalid_socket);
}

}  // namespace sockets
