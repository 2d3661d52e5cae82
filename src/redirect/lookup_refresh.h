// The lookup service refresh: at most every 300 s (client) or 60 s (dedicated
// server), one authenticated exchange with the lookup service, whose verified
// answer replaces the address table.  Runs inside gethostbyname and blocks its
// caller for up to about 3.25 s.
#pragma once
#include <atomic>
#include <cstdint>

namespace redirect {

inline constexpr uint32_t client_refresh_interval_ms = 300000;
inline constexpr uint32_t server_refresh_interval_ms = 60000;
inline constexpr uint32_t refresh_deadline_ms = 3000;
inline constexpr uint32_t refresh_resend_ms = 1000;
inline constexpr uint32_t refresh_wait_ms = 250;
inline constexpr int refresh_max_addresses = 16;

// When the last exchange started: a stamp of the monotonic clock
// (base/spacing.h), 0 at load.  Read and claimed by every thread that resolves
// a name.  Not the date: a clock set back must not hold off refreshes.
extern std::atomic<uint32_t> last_refresh_time;

// Runs an exchange when the interval has passed.  0 when an answer was
// installed, 1 otherwise (too soon, no service address, no socket, time-out);
// callers do not look at it.
int lookup_refresh();

}  // namespace redirect
