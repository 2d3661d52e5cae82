// Native clocks, with a settable clock for tests.
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "platform/native/seam_calls.h"
#include "platform/native/test_controls.h"

namespace platform {
namespace {
std::atomic<int> fake_clock{0};
std::atomic<uint32_t> fake_seconds{0};
std::atomic<uint64_t> monotonic_offset{0};
std::atomic<int> monotonic_held{0};
std::atomic<uint64_t> held_at{0};

uint64_t running_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}
}  // namespace

uint32_t now_seconds() {
  seam_calls::note("now_seconds");
  if (fake_clock.load()) return fake_seconds.load();
  return static_cast<uint32_t>(::time(nullptr));
}

uint64_t monotonic_ms() {
  seam_calls::note("monotonic_ms");
  return (monotonic_held.load() ? held_at.load() : running_ms()) + monotonic_offset.load();
}

void sleep_ms(uint32_t ms) {
  seam_calls::note("sleep_ms");
  ::usleep(static_cast<useconds_t>(ms) * 1000u);
}

utc_time utc_from_seconds(uint32_t seconds) {
  seam_calls::note("utc_from_seconds");
  time_t t = seconds;
  struct tm parts {};
  gmtime_r(&t, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

namespace test {
void set_clock(uint32_t seconds) {
  fake_seconds = seconds;
  fake_clock = 1;
}
void advance_clock(uint32_t seconds) { fake_seconds += seconds; }
void use_real_clock() { fake_clock = 0; }
void advance_monotonic(uint64_t ms) { monotonic_offset += ms; }
void hold_monotonic() {
  held_at = running_ms();
  monotonic_held = 1;
}
// The clock then shows the time that passed while held as well: never backwards.
void use_running_monotonic() { monotonic_held = 0; }
}  // namespace test

}  // namespace platform
