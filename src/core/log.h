// The library's log: a daily file under "logs/ostrel" in the working folder,
// optionally echoed as "HLD1" datagrams to a log collector.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/text.h"

namespace core {

// The text carries its own "\r\n".  0 when the line went to the file, 1 when
// the file did not open (the echo is attempted either way).
int log_printf(const char* format, ...) OSTREL_PRINTF(1, 2);
// Sets up the echo: value (the server's query port) and the collector address
// (network order; 0 keeps the previous destination).  Always 0.
int log_echo_setup(uint16_t value, uint32_t address);

// "logs/ostrel/YYYY-MM-DD[_<host executable>].log" for the UTC day of
// `seconds`, into out (60 bytes suffice).  Its length, or negative when cut.
inline constexpr size_t log_file_name_size = 60;
int log_file_name(char* out, size_t size, uint32_t seconds);

// The one lock that serialises logging (the file, the banner flag and the
// echo header); the echo set-up takes it too.
void log_lock_hold();
void log_lock_release();

// Back to the state at load time (banner not written, echo off); the echo
// socket stays.  For tests.
void log_reset();

}  // namespace core
