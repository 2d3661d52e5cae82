// send_snapshot.  A connection that fails is closed and the next address gets a
// fresh socket: a stream socket's state after a failed connect is not one to
// build on.  Every wait is bounded on the monotonic clock.
#include "snapshot/snapshot_send.h"

#include <cstring>

#include "base/bytes.h"
#include "core/log.h"
#include "platform/platform.h"
#include "snapshot/snapshot_header.h"
#include "snapshot/stats_host.h"

namespace snapshot {

namespace {

struct quad {
  int a, b, c, d;
};
quad address_bytes(uint32_t address) {
  uint8_t b[4];
  bytes::store_u32le(b, address);
  return {b[0], b[1], b[2], b[3]};
}

// A connected socket, or invalid_socket when no address took the connection.
platform::socket_handle connect_any(const uint32_t* addresses, int count) {
  for (int i = 0; i < count; ++i) {
    const platform::socket_handle s = platform::tcp_open();
    if (s == platform::invalid_socket) return s;
    const quad q = address_bytes(addresses[i]);
    const int error = platform::tcp_connect(s, addresses[i], upload_port);
    if (error == 0) {
      core::log_printf("SNAPSHOT: connected to %d.%d.%d.%d\r\n", q.a, q.b, q.c, q.d);
      return s;
    }
    core::log_printf("SNAPSHOT: could not connect to %d.%d.%d.%d (%d)\r\n", q.a, q.b, q.c, q.d,
                     error);
    platform::socket_close(s);
  }
  return platform::invalid_socket;
}

size_t send_all(platform::socket_handle s, const uint8_t* data, size_t total) {
  size_t sent = 0;
  while (sent < total) {
    const size_t piece = total - sent < send_piece_size ? total - sent : send_piece_size;
    const int n = platform::tcp_send(s, data + sent, piece);
    if (n < 1) break;
    sent += static_cast<size_t>(n);
  }
  return sent;
}

}  // namespace

int read_reply(platform::socket_handle s, char* reply) {
  const uint64_t deadline = platform::monotonic_ms() + reply_wait_ms;
  size_t received = 0;
  reply[0] = '\0';
  while (received < reply_buffer_size - 1) {
    if (platform::monotonic_ms() > deadline) break;
    const int ready = platform::wait_readable(s, reply_poll_ms);
    if (ready < 0) return -1;
    if (ready == 0) continue;
    const int n = platform::tcp_receive(s, reply + received, reply_buffer_size - 1 - received);
    if (n == 0) break;
    if (n > 0) received += static_cast<size_t>(n);
  }
  reply[received] = '\0';
  return static_cast<int>(received);
}

bool reply_succeeded(const char* text) {
  const char* line_end = std::strchr(text, '\n');
  if (!line_end) return false;
  const char* ok = std::strstr(text, " 200 OK");
  return ok && ok + 7 <= line_end;
}

int send_snapshot(snapshot_record& record) {
  core::log_printf("SNAPSHOT: trying to send snapshot (%lu bytes) ...\r\n",
                   static_cast<unsigned long>(record.body_length));
  if (prepare_header(record) != 0) {
    core::log_printf("SNAPSHOT: cannot prepare header\r\n");
    return 1;
  }
  uint32_t addresses[stats_max_addresses];
  const int count = resolve_stats_host(addresses, stats_max_addresses);
  if (count <= 0) {
    core::log_printf("SNAPSHOT: cannot resolve hostname\r\n");
    return 1;
  }
  const platform::socket_handle s = connect_any(addresses, count);
  if (s == platform::invalid_socket) return 1;

  const size_t total = size_t{record.header_length} + record.body_length;
  const size_t sent = send_all(s, record.buffer + record.header_offset, total);
  core::log_printf("SNAPSHOT: sent %d/%d bytes of data\r\n", static_cast<int>(sent),
                   static_cast<int>(total));
  if (sent < total) {
    platform::socket_close(s);
    return 1;
  }

  char reply[reply_buffer_size];
  const int result = read_reply(s, reply);
  if (result <= 0) reply[0] = '\0';
  const bool ok = result > 0 && reply_succeeded(reply);
  if (!ok)
    core::log_printf("SNAPSHOT: server replied with (%d) -> '%.*s'\r\n", result, reply_log_length,
                     reply);
  platform::socket_close(s);
  return ok ? 0 : 1;
}

}  // namespace snapshot
