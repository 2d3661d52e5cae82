// Session exchange.  Replies count only from an address the request went to;
// the wait ends two seconds after the request on the monotonic clock, however
// many datagrams arrive.  The three results are single 32-bit stores that the
// script thread may read at the same moment.
#include "snapshot/session_exchange.h"

#include <atomic>

#include "core/random.h"
#include "core/service_state.h"
#include "platform/platform.h"
#include "snapshot/session_messages.h"
#include "snapshot/stats_host.h"

namespace snapshot {

namespace {
bool sent_to(uint32_t address, const uint32_t* addresses, int count) {
  for (int i = 0; i < count; ++i)
    if (addresses[i] == address) return true;
  return false;
}
uint32_t read_field(uint32_t& field) {
  return std::atomic_ref<uint32_t>(field).load(std::memory_order_relaxed);
}
void store_field(uint32_t& field, uint32_t value) {
  std::atomic_ref<uint32_t>(field).store(value, std::memory_order_relaxed);
}
}  // namespace

int session_exchange(platform::socket_handle s) {
  core::service_state* block = core::service;
  if (!block || s == platform::invalid_socket) return 1;
  uint32_t addresses[stats_max_addresses];
  const int count = resolve_stats_host(addresses, stats_max_addresses);
  if (count <= 0) return 1;

  const session_identity id{block->interface_address, block->server_address, block->game_port,
                            block->query_port};
  const uint32_t t0 = platform::now_seconds();
  uint8_t r[session_random_size];
  core::random_bytes(r, sizeof r);
  uint8_t request[session_datagram_size];
  build_session_request(request, id, read_field(block->session_flags),
                        read_field(block->start_time), t0, platform::process_id(), r,
                        block->provider_id);
  for (int i = 0; i < count; ++i)
    if (platform::udp_send_to(s, request, sizeof request, addresses[i], session_port) < 0 &&
        platform::socket_handle_lost())
      return session_socket_lost;

  const uint64_t deadline = platform::monotonic_ms() + session_wait_ms;
  while (platform::monotonic_ms() < deadline) {
    const int ready = platform::wait_readable(s, session_poll_ms);
    if (ready < 0) return platform::socket_handle_lost() ? session_socket_lost : 1;
    if (ready == 0) continue;
    uint8_t reply[session_datagram_size + 1];
    uint32_t from = 0;
    uint16_t from_port = 0;
    int ipv4 = 0;
    const int length =
        platform::udp_receive_from(s, reply, sizeof reply, &from, &from_port, &ipv4);
    if (length < 0 && platform::socket_handle_lost()) return session_socket_lost;
    if (length < 0 || !ipv4 || !sent_to(from, addresses, count)) continue;
    uint32_t flags = 0, service_time = 0;
    if (check_session_reply(reply, static_cast<size_t>(length), r, id, block->provider_id, &flags,
                            &service_time) != 0)
      continue;
    const uint32_t now = platform::now_seconds();
    store_field(block->session_flags, flags);
    store_field(block->service_time, service_time);
    store_field(block->exchange_midpoint, t0 + (now - t0) / 2);
    return 0;
  }
  return 1;
}

}  // namespace snapshot
