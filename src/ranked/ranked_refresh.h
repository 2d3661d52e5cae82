// The ranked list refresh: when the game opens its server-list connection, a
// short UDP exchange with the master server fetches the current blob in
// fragments, and a verified blob is written to the file and installed.  Runs
// on the game's thread inside connect, bounded to about 5.5 s; after a success
// the next refresh waits 60 s.
//
// Each refresh assembles its fragments in a buffer of its own, so two
// refreshes on two threads never mix fragments; installs are serialised by
// the store.
#pragma once
#include <atomic>
#include <cstdint>

namespace ranked {

inline constexpr uint32_t refresh_deadline_ms = 5000;
inline constexpr uint32_t refresh_resend_ms = 1000;
inline constexpr uint32_t refresh_wait_ms = 500;
inline constexpr uint32_t refresh_wait_step_ms = 250;
inline constexpr uint32_t refresh_pause_ms = 60000;
inline constexpr int fragments_per_acknowledgement = 5;

// The master server's port (27900); native tests may move it.
extern std::atomic<uint16_t> master_port;
// serverBrowserMode as last read: ranked filtering and the server list move
// are on only while it is 1.  Read by every receiving thread.
extern std::atomic<uint32_t> server_browser_mode;
// Monotonic milliseconds of the last successful refresh, 0 for none.
extern std::atomic<uint64_t> last_success_ms;

// Reads serverBrowserMode from the registry (a missing value counts as 0)
// into server_browser_mode and returns it.
uint32_t read_browser_mode();

// One refresh against the master at address (network order) and port (host
// order).  0 on success or when skipped within 60 s of the last success.
int refresh_ranked_list(uint32_t address, uint16_t port);

// Before the game's connection to port 29900 or 28910 (destination: the
// 16-byte socket address it connects to): a refresh when serverBrowserMode is
// 1, against the master host name or else, for 28910, the connection's host.
void ranked_list_on_connect(const uint8_t* destination);

}  // namespace ranked
