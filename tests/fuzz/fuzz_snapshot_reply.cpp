// The upload's reply read and check over arbitrary bytes: whatever the server
// sends (any length, any bytes, closed early), the read stays inside its
// 1000-byte buffer, terminates the text, stops early only at a whole reply,
// and the verdict is made on it.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "snapshot/snapshot_send.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8000) return 0;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  if (size && write(pair[1], data, size) != static_cast<ssize_t>(size)) std::abort();
  close(pair[1]);
  char reply[snapshot::reply_buffer_size];
  const int n = snapshot::read_reply(static_cast<platform::socket_handle>(pair[0]), reply);
  close(pair[0]);
  const size_t expected = size < 999 ? size : 999;
  if (n < 0 || n > static_cast<int>(expected) || reply[n] != '\0') std::abort();
  if (std::memcmp(reply, data, static_cast<size_t>(n)) != 0) std::abort();
  if (n < static_cast<int>(expected) && !snapshot::reply_complete(reply, static_cast<size_t>(n)))
    std::abort();
  const int outcome = snapshot::reply_outcome(reply);
  if ((outcome == snapshot::send_delivered) != snapshot::reply_succeeded(reply)) std::abort();
  if (outcome == snapshot::send_refused && snapshot::reply_status(reply) / 100 != 4) std::abort();
  const bool ok = snapshot::reply_succeeded(reply);
  // Success needs " 200 OK" wholly before the first line end of the text.
  const char* line_end = std::strchr(reply, '\n');
  if (ok && (!line_end || !std::strstr(reply, " 200 OK") ||
             std::strstr(reply, " 200 OK") + 7 > line_end))
    std::abort();
  return 0;
}
