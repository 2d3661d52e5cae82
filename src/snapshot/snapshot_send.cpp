// send_snapshot.  A connection that fails is closed and the next address gets a
// fresh socket: a stream socket's state after a failed connect is not one to
// build on.  Every wait is bounded on the monotonic clock and waited for in
// short slices, so that no peer (silent, never reading, never closing) can
// hold the worker longer than its own limit.
#include "snapshot/snapshot_send.h"

#include <cstdarg>
#include <cstring>

#include "base/bytes.h"
#include "base/text.h"
#include "core/log.h"
#include "platform/platform.h"
#include "snapshot/snapshot_header.h"
#include "snapshot/stats_host.h"

namespace snapshot {

namespace {

constexpr uint32_t wait_slice_ms = 200;

struct quad {
  int a, b, c, d;
};
quad address_bytes(uint32_t address) {
  uint8_t b[4];
  bytes::store_u32le(b, address);
  return {b[0], b[1], b[2], b[3]};
}

// One attempt's lines: written unless the attempt is quiet; the last one is
// kept, so that a failure can be reported as it was logged.
struct attempt {
  bool quiet;
  send_report* report;
  char last[600] = {};

  void line(const char* format, ...) OSTREL_PRINTF(2, 3) {
    va_list args;
    va_start(args, format);
    text::format_bounded_v(last, sizeof last, format, args);
    va_end(args);
    if (!quiet) core::log_printf("%s\r\n", last);
  }
  // The last line, without its "SNAPSHOT: " prefix (the worker's own lines
  // carry it), as the failure of the report.
  int fail(send_step step, int code) {
    report->step = step;
    report->code = code;
    const char* bare = std::strncmp(last, "SNAPSHOT: ", 10) == 0 ? last + 10 : last;
    text::copy_bounded(report->failure, sizeof report->failure, bare);
    return send_transient;
  }
};

// 0 when connected; otherwise the error code (timed_out_error after
// connect_wait_ms without an answer).
int connect_within(platform::socket_handle s, uint32_t address) {
  const int started = platform::tcp_connect(s, address, upload_port);
  if (started != platform::stream_in_progress) return started;
  const uint64_t deadline = platform::monotonic_ms() + connect_wait_ms;
  while (platform::monotonic_ms() < deadline) {
    const int ready = platform::wait_writable(s, wait_slice_ms);
    if (ready < 0) break;
    if (ready > 0) return platform::tcp_connect_result(s);
  }
  return platform::timed_out_error;
}

// A connected socket, or invalid_socket when no address took the connection
// (*error then holds the last address's error code).
platform::socket_handle connect_any(attempt& a, const uint32_t* addresses, int count,
                                    int* error) {
  *error = 0;
  for (int i = 0; i < count; ++i) {
    const platform::socket_handle s = platform::tcp_open();
    if (s == platform::invalid_socket) return s;
    const quad q = address_bytes(addresses[i]);
    *error = connect_within(s, addresses[i]);
    if (*error == 0) {
      a.line("SNAPSHOT: connected to %d.%d.%d.%d", q.a, q.b, q.c, q.d);
      return s;
    }
    a.line("SNAPSHOT: could not connect to %d.%d.%d.%d (%d)", q.a, q.b, q.c, q.d, *error);
    a.fail(send_step::connect, *error);
    platform::socket_close(s);
  }
  return platform::invalid_socket;
}

// Sends until all is out, the connection fails, or send_stall_ms pass
// without a byte going out (a peer that stopped reading).
size_t send_all(platform::socket_handle s, const uint8_t* data, size_t total) {
  size_t sent = 0;
  uint64_t deadline = platform::monotonic_ms() + send_stall_ms;
  while (sent < total) {
    const size_t piece = total - sent < send_piece_size ? total - sent : send_piece_size;
    const int n = platform::tcp_send(s, data + sent, piece);
    if (n < 0) break;
    if (n > 0) {
      sent += static_cast<size_t>(n);
      deadline = platform::monotonic_ms() + send_stall_ms;
      continue;
    }
    if (platform::monotonic_ms() >= deadline) break;
    if (platform::wait_writable(s, wait_slice_ms) < 0) break;
  }
  return sent;
}

bool same_letters(const char* text, const char* lower, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (text::ascii_lower(text[i]) != lower[i]) return false;
  return true;
}

// The Content-Length value in the head [text, head_end), or -1 without one
// (or with one that is not a plain number).
long content_length(const char* text, const char* head_end) {
  static const char name[] = "content-length:";
  const size_t name_length = sizeof name - 1;
  for (const char* line = std::strchr(text, '\n'); line && line < head_end;
       line = std::strchr(line + 1, '\n')) {
    const char* start = line + 1;
    if (static_cast<size_t>(head_end - start) < name_length || !same_letters(start, name, name_length))
      continue;
    const char* p = start + name_length;
    while (*p == ' ' || *p == '\t') ++p;
    long value = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9' && digits < 9; ++p, ++digits) value = value * 10 + (*p - '0');
    return digits > 0 ? value : -1;
  }
  return -1;
}

}  // namespace

bool reply_complete(const char* text, size_t size) {
  const char* crlf = std::strstr(text, "\r\n\r\n");
  const char* lf = std::strstr(text, "\n\n");
  const char* head_end = nullptr;
  size_t blank = 0;
  if (crlf && (!lf || crlf < lf)) {
    head_end = crlf;
    blank = 4;
  } else if (lf) {
    head_end = lf;
    blank = 2;
  }
  if (!head_end) return false;
  const long length = content_length(text, head_end);
  const size_t body_start = static_cast<size_t>(head_end - text) + blank;
  return size >= body_start + static_cast<size_t>(length > 0 ? length : 0);
}

int read_reply(platform::socket_handle s, char* reply) {
  const uint64_t deadline = platform::monotonic_ms() + reply_wait_ms;
  size_t received = 0;
  reply[0] = '\0';
  while (received < reply_buffer_size - 1) {
    if (platform::monotonic_ms() > deadline) break;
    const int ready = platform::wait_readable(s, reply_poll_ms);
    if (ready < 0) return -1;
    if (ready == 0) continue;
    // A reset connection stays readable on Windows and every receive fails
    // again: a failed receive ends the read rather than polling on.
    const int n = platform::tcp_receive(s, reply + received, reply_buffer_size - 1 - received);
    if (n <= 0) break;
    received += static_cast<size_t>(n);
    reply[received] = '\0';
    if (reply_complete(reply, received)) break;
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

int reply_status(const char* text) {
  const char* line_end = std::strchr(text, '\n');
  if (!line_end || std::strncmp(text, "HTTP/", 5) != 0) return 0;
  const char* space = std::strchr(text, ' ');
  if (!space || space + 4 > line_end) return 0;
  const char* d = space + 1;
  for (int i = 0; i < 3; ++i)
    if (d[i] < '0' || d[i] > '9') return 0;
  if (d[3] != ' ' && d[3] != '\r' && d[3] != '\n') return 0;
  return (d[0] - '0') * 100 + (d[1] - '0') * 10 + (d[2] - '0');
}

int reply_outcome(const char* text) {
  if (reply_succeeded(text)) return send_delivered;
  const int status = reply_status(text);
  if (status >= 400 && status < 500 && status != 408 && status != 429) return send_refused;
  return send_transient;
}

int send_snapshot(snapshot_record& record, send_report* report, bool quiet) {
  send_report own;
  if (!report) report = &own;
  *report = send_report{};
  attempt a{quiet, report};
  a.line("SNAPSHOT: trying to send snapshot (%lu bytes) ...",
         static_cast<unsigned long>(record.body_length));
  if (prepare_header(record) != 0) {
    a.line("SNAPSHOT: cannot prepare header");
    return a.fail(send_step::header, 0);
  }
  uint32_t addresses[stats_max_addresses];
  const int count = resolve_stats_host(addresses, stats_max_addresses);
  if (count <= 0) {
    a.line("SNAPSHOT: cannot resolve hostname");
    return a.fail(send_step::resolve, 0);
  }
  int error = 0;
  const platform::socket_handle s = connect_any(a, addresses, count, &error);
  if (s == platform::invalid_socket) {
    if (error) return send_transient;  // the last address's failure is reported
    text::copy_bounded(a.last, sizeof a.last, "no socket");  // reported, not logged
    return a.fail(send_step::socket, 0);
  }

  const size_t total = size_t{record.header_length} + record.body_length;
  const size_t sent = send_all(s, record.buffer + record.header_offset, total);
  a.line("SNAPSHOT: sent %d/%d bytes of data", static_cast<int>(sent), static_cast<int>(total));
  if (sent < total) {
    platform::socket_close(s);
    return a.fail(send_step::send, 0);
  }

  char reply[reply_buffer_size];
  const int result = read_reply(s, reply);
  platform::socket_close(s);
  if (result <= 0) reply[0] = '\0';
  const char* line_end = std::strchr(reply, '\n');
  const size_t line_length = line_end ? static_cast<size_t>(line_end - reply) : std::strlen(reply);
  text::copy_bounded_n(report->status_line, sizeof report->status_line, reply, line_length);
  const size_t kept = std::strlen(report->status_line);
  if (kept > 0 && report->status_line[kept - 1] == '\r') report->status_line[kept - 1] = '\0';

  report->outcome = result > 0 ? reply_outcome(reply) : send_transient;
  if (report->outcome == send_delivered) {
    report->step = send_step::none;
    return send_delivered;
  }
  a.line("SNAPSHOT: server replied with (%d) -> '%.*s'", result, reply_log_length, reply);
  a.fail(send_step::reply, reply_status(reply));
  return report->outcome;
}

}  // namespace snapshot
