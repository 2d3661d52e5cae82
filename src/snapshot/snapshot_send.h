// The upload of one snapshot: header, resolution of the statistics host, a
// fresh TCP connection to port 80, the request in pieces, and the reply's
// verdict.  Every step writes its "SNAPSHOT: " log line.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/net.h"
#include "snapshot/snapshot_record.h"

namespace snapshot {

inline constexpr uint16_t upload_port = 80;
inline constexpr size_t send_piece_size = 8000;
inline constexpr uint32_t reply_wait_ms = 10000;
inline constexpr uint32_t reply_poll_ms = 200;
inline constexpr size_t reply_buffer_size = 1000;  // at most 999 bytes and a NUL
inline constexpr int reply_log_length = 400;

// Reads the reply into reply (reply_buffer_size bytes) until the peer closes,
// 999 bytes have arrived or reply_wait_ms have passed.  The number of bytes
// read (0 to 999, followed by a NUL), or -1 when waiting failed.
int read_reply(platform::socket_handle s, char* reply);

// True when the text holds a line end and its first line contains " 200 OK".
bool reply_succeeded(const char* text);

// 0 when the service took the snapshot, 1 on any failure; the record and its
// body are left for the caller to release or requeue.
int send_snapshot(snapshot_record& record);

}  // namespace snapshot
