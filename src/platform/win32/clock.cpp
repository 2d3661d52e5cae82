// Windows clocks: system time as seconds since 1970, and the tick count that
// never jumps for time-outs.
#include <windows.h>

#include <ctime>

#include "platform/platform.h"

namespace platform {
namespace {
uint64_t filetime_100ns() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
constexpr uint64_t epoch_offset_100ns = 116444736000000000ull;
}  // namespace

uint32_t now_seconds() {
  return static_cast<uint32_t>((filetime_100ns() - epoch_offset_100ns) / 10000000ull);
}
uint64_t monotonic_ms() { return GetTickCount64(); }
void sleep_ms(uint32_t ms) { Sleep(ms); }

utc_time utc_from_seconds(uint32_t seconds) {
  __time64_t t = seconds;
  struct tm parts {};
  _gmtime64_s(&parts, &t);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

}  // namespace platform
