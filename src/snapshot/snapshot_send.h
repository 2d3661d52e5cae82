// The upload of one snapshot: header, resolution of the statistics host, a
// fresh TCP connection to port 80, the request in pieces, and the reply's
// verdict.  Every step writes its "SNAPSHOT: " log line unless the caller
// asks for quiet (the worker sums up a run of equal failures itself).
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/net.h"
#include "snapshot/snapshot_record.h"

namespace snapshot {

inline constexpr uint16_t upload_port = 80;
inline constexpr size_t send_piece_size = 8000;
inline constexpr uint32_t connect_wait_ms = 10000;  // per address
inline constexpr uint32_t send_stall_ms = 10000;    // without a byte going out
inline constexpr uint32_t reply_wait_ms = 10000;
inline constexpr uint32_t reply_poll_ms = 200;
inline constexpr size_t reply_buffer_size = 1000;  // at most 999 bytes and a NUL
inline constexpr int reply_log_length = 400;

// What an attempt came to, decided from what the service actually sent.
inline constexpr int send_delivered = 0;  // " 200 OK" in the status line
inline constexpr int send_transient = 1;  // try the same snapshot again later
inline constexpr int send_refused = 2;    // a definite 4xx (not 408, not 429)

// Where an attempt stopped; with the code it tells one failure from another.
enum class send_step { none, header, resolve, socket, connect, send, reply };

inline constexpr size_t status_line_size = 100;
inline constexpr size_t failure_text_size = 160;
struct send_report {
  int outcome = send_transient;
  send_step step = send_step::none;
  int code = 0;  // connect: the last address's error; reply: the status code or 0
  char status_line[status_line_size] = {};  // the reply's first line, cut to fit
  char failure[failure_text_size] = {};     // the failure in one line, without "\r\n"
};

// Reads the reply into reply (reply_buffer_size bytes) until the status line,
// the headers and the body that Content-Length announces (none without it)
// are in, the peer closes, a receive fails, 999 bytes have arrived or
// reply_wait_ms have passed.  The number of bytes read (0 to 999, followed by
// a NUL), or -1 when waiting failed.
int read_reply(platform::socket_handle s, char* reply);

// True when text (size bytes, NUL-terminated) holds a whole reply head and as
// much body as its Content-Length announces.
bool reply_complete(const char* text, size_t size);
// True when the text holds a line end and its first line contains " 200 OK".
bool reply_succeeded(const char* text);
// The status code of a complete "HTTP/x.y NNN ..." status line, or 0.
int reply_status(const char* text);
// send_delivered, send_refused or send_transient for a reply text.
int reply_outcome(const char* text);

// One upload attempt: send_delivered, send_transient or send_refused.  The
// record and its body are left for the caller to release or requeue.
int send_snapshot(snapshot_record& record, send_report* report = nullptr, bool quiet = false);

}  // namespace snapshot
