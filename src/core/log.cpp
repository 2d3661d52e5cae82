// log_printf: one line to the day's log file, then its echo.  One lock,
// created when first needed, serialises the routine's file writing and shared
// state (banner flag, echo header); the echo datagram leaves after the lock
// is released, so no thread waits on another's network send.
#include "core/log.h"

#include <cstdarg>
#include <cstdio>

#include "core/log_echo.h"
#include "core/process_state.h"
#include "platform/platform.h"

namespace core {
namespace {

int banner_written = 0;  // guarded by the log lock

// Without a lock (its allocation failed) logging still works, unserialised.
platform::lock* log_lock() {
  static platform::lock* const lock = platform::lock_create();
  return lock;
}

OSTREL_PRINTF(2, 0) int write_line(uint32_t now, const char* format, va_list args) {
  char name[log_file_name_size];
  if (log_file_name(name, sizeof name, now) < 0) return 1;
  FILE* file = platform::open_file(name, "ab");
  if (!file) return 1;
  platform::utc_time t = platform::utc_from_seconds(now);
  if (!banner_written)
    std::fprintf(file, "--- Log started: %04d-%02d-%02d %02d:%02d:%02d ---\r\n", t.year, t.month,
                 t.day, t.hour, t.minute, t.second);
  std::fprintf(file, "(%lu) %02d:%02d:%02d > ", static_cast<unsigned long>(platform::process_id()),
               t.hour, t.minute, t.second);
  std::vfprintf(file, format, args);
  std::fclose(file);
  banner_written = 1;
  return 0;
}

}  // namespace

void log_lock_hold() {
  if (platform::lock* l = log_lock()) platform::lock_acquire(l);
}

void log_lock_release() {
  if (platform::lock* l = log_lock()) platform::lock_release(l);
}

int log_file_name(char* out, size_t size, uint32_t seconds) {
  platform::utc_time t = platform::utc_from_seconds(seconds);
  const char* host = process.host_executable_name;
  return text::format_bounded(out, size, "logs/ostrel/%04d-%02d-%02d%s%s.log", t.year, t.month,
                              t.day, host[0] ? "_" : "", host);
}

int log_printf(const char* format, ...) {
  uint32_t now = platform::now_seconds();
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  char echo_text[echo_text_size];
  int echo_length = text::format_bounded_v(echo_text, sizeof echo_text, format, again);
  va_end(again);

  echo_datagram datagram;
  log_lock_hold();
  int result = write_line(now, format, args);
  bool send = echo_prepare(now, echo_text, echo_length, datagram);
  log_lock_release();
  va_end(args);

  if (send) echo_send(datagram);
  return result;
}

void log_reset() {
  log_lock_hold();
  banner_written = 0;
  echo_reset();
  log_lock_release();
}

}  // namespace core
