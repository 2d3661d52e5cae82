// The log echo: each log line also goes out as one "HLD1" datagram to the log
// collector at UDP port 29951, once a dedicated server has set up the echo.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/net.h"

namespace core {

inline constexpr uint16_t log_echo_port = 29951;

// echo_: offsets in the "HLD1" datagram, a 20-byte header, then the text
// without a terminating zero.
inline constexpr size_t echo_magic = 0;        // "HLD1"
inline constexpr size_t echo_sequence = 4;     // u16, 1 for the first after set-up
inline constexpr size_t echo_setup_value = 6;  // u16, the server's query port
inline constexpr size_t echo_setup_time = 8;   // u32 seconds since 1970
inline constexpr size_t echo_send_time = 12;   // u32 seconds since 1970
inline constexpr size_t echo_pid = 16;         // u32, low 16 bits of the process id
inline constexpr size_t echo_header_size = 20;
// Texts are formatted into this many bytes; one that needs them all is not sent.
inline constexpr size_t echo_text_size = 480;

struct echo_datagram {
  platform::socket_handle socket;
  uint32_t address;  // network order
  size_t length;
  uint8_t bytes[echo_header_size + echo_text_size - 1];
};

// Callers hold the log lock.  Creates the echo socket when there is none yet;
// when the echo is set up and text_length is 1..479, numbers the next datagram
// and builds it into out.  false when nothing is to be sent.
bool echo_prepare(uint32_t now, const char* text, int text_length, echo_datagram& out);
// Sends outside the lock; the outcome is not reported.  A send that finds the
// socket's handle gone drops the echo socket (without closing it), so the
// next line creates a new one.
void echo_send(const echo_datagram& datagram);
void echo_reset();

}  // namespace core
