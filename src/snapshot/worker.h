// The snapshot worker of a dedicated server, the library's one thread: it
// drains the snapshot queue through the HTTP transport and runs the session
// exchange once a minute.
#pragma once
#include <cstdint>

#include "platform/net.h"
#include "snapshot/snapshot_queue.h"
#include "snapshot/snapshot_send.h"

namespace snapshot {

inline constexpr uint64_t exchange_interval_s = 60;
inline constexpr uint32_t retry_after_failure_s = 10;
inline constexpr uint32_t retry_after_success_s = 1;
inline constexpr uint32_t worker_sleep_ms = 1000;
inline constexpr uint32_t refusals_before_drop = 3;
inline constexpr uint64_t failure_summary_interval_s = 300;

// Private to the worker thread.  Times are whole seconds of the monotonic
// clock, so that a change of the date neither stalls nor hurries the worker.
struct worker_state {
  platform::socket_handle session_socket = platform::invalid_socket;
  bool exchanged = false;  // an exchange has run
  uint64_t last_exchange = 0;
  bool attempted = false;  // an upload has been attempted
  uint64_t last_attempt = 0;
  uint32_t retry_interval = retry_after_failure_s;
  // A run of failed attempts: its first failure is logged in full, repeats of
  // the same failure (same step, same code) are summed up in one line at most
  // every failure_summary_interval_s, and its end says so.
  bool failing = false;
  send_step run_step = send_step::none;
  int run_code = 0;
  uint64_t run_started = 0;
  uint32_t run_attempts = 0;
  uint64_t last_summary = 0;
  uint32_t attempts_since_summary = 0;
  // Snapshots were found waiting for gpaInit, and the log has said so.
  bool waiting_logged = false;
};

// One pass of the loop without its sleep, at now (whole seconds of the
// monotonic clock): once gpaInit has given the provider ID, the session
// exchange when due, then one upload attempt when due and something is
// queued; before it, nothing.
void worker_pass(worker_state& state, uint64_t now);

// Starts the worker thread (once); 0 when it runs.
int worker_start();

#ifndef _WIN32
// Native builds only (tests, benchmarks): ends the worker after its current
// pass and waits until it has left.  The DLL never stops its worker.
void worker_stop();
#endif

}  // namespace snapshot
