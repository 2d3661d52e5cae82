// The start gate: the part of start-up that may not run while the platform's
// loader lock is held (registry, the shell's folders, files beyond the host
// executable, sockets, threads) runs once, on the first thread that enters the
// library, before that call does its own work.  Every entry (the stepping-in
// exports, the script runtime hooks) passes the gate first; once the work is
// done, passing costs one acquire load.
#pragma once
#include <atomic>

namespace core {

// Closes the gate with the work behind it, creating the lock its latecomers
// wait on (allowed under the loader lock).  Called by the load-time start-up,
// before any thread can pass.  The work must never pass the gate itself.
void start_gate_arm(void (*work)());

// Native builds (tests) load and unload the library many times in one
// process: unloading leaves the gate open with no work behind it.
void start_gate_reset();

namespace gate_detail {
extern std::atomic<int> done;
void run_once();
}  // namespace gate_detail

// Runs the deferred start-up when no thread has yet; waits while another
// thread runs it.  A step of the work that fails is skipped by the work
// itself: the gate opens all the same, and nothing behind it runs twice.
inline void pass_start_gate() {
  if (gate_detail::done.load(std::memory_order_acquire)) return;
  gate_detail::run_once();
}

}  // namespace core
