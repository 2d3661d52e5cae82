// Snapshot worker.  A snapshot that fails is put back with its own sequence, so
// it keeps its place before later ones; one that the full queue will not take
// back is logged as it is released.  The upload runs outside the snapshot lock.
#include "snapshot/worker.h"

#include <atomic>

#include "core/log.h"
#include "core/service_state.h"
#include "platform/platform.h"
#include "snapshot/session_exchange.h"
#include "snapshot/snapshot_send.h"

#ifndef _WIN32
#include "redirect/answer_blocks.h"
#endif

namespace snapshot {
namespace {

std::atomic<bool> running{false};
std::atomic<bool> stopping{false};

bool due(bool happened, uint64_t last, uint64_t interval, uint64_t now) {
  return !happened || now >= last + interval;
}

// Start time and provider ID are set by the script thread's gpaInit, which
// publishes the identity and provider ID with the start time (release).
bool exchange_wanted(core::service_state* block) {
  return block && std::atomic_ref<uint32_t>(block->start_time).load(std::memory_order_acquire) &&
         block->provider_id[0] != '\0';
}

void upload_one(worker_state& state, uint64_t now) {
  snapshot_record record;
  if (dequeue(&record) != 0) return;
  if (send_snapshot(record) == 0) {
    core::log_printf("SNAPSHOT: %lu+%lu bytes sent\r\n",
                     static_cast<unsigned long>(record.header_length),
                     static_cast<unsigned long>(record.body_length));
    release_snapshot(record);
    state.retry_interval = retry_after_success_s;
  } else {
    if (enqueue(&record) == 0)
      core::log_printf("SNAPSHOT: could not send request - requeued\r\n");
    else
      discard_snapshot(record, "could not send request, queue full of newer snapshots");
    state.retry_interval = retry_after_failure_s;
  }
  state.attempted = true;
  state.last_attempt = now;
}

void worker_body(void*) {
  worker_state state;
  while (!stopping.load()) {
    worker_pass(state, platform::monotonic_ms() / 1000);
    for (uint32_t slept = 0; slept < worker_sleep_ms && !stopping.load(); slept += 50)
      platform::sleep_ms(50);
  }
  platform::socket_close(state.session_socket);
#ifndef _WIN32
  // The name hook keeps one answer block a thread; this thread is ending.
  delete[] static_cast<uint8_t*>(platform::thread_slot_get(redirect::answer_slot));
  platform::thread_slot_set(redirect::answer_slot, nullptr);
#endif
  running.store(false);
}

}  // namespace

void worker_pass(worker_state& state, uint64_t now) {
  core::service_state* block = core::service;
  if (exchange_wanted(block) && due(state.exchanged, state.last_exchange, exchange_interval_s, now)) {
    if (state.session_socket == platform::invalid_socket)
      state.session_socket = platform::udp_open();
    if (state.session_socket != platform::invalid_socket) {
      // A handle that is gone is dropped, not closed: its value may by now
      // belong to a socket of the host's.
      if (session_exchange(state.session_socket) == session_socket_lost)
        state.session_socket = platform::invalid_socket;
      state.exchanged = true;
      state.last_exchange = now;
    }
  }
  if (due(state.attempted, state.last_attempt, state.retry_interval, now)) upload_one(state, now);
}

int worker_start() {
  bool expected = false;
  if (!running.compare_exchange_strong(expected, true)) return 0;
  stopping.store(false);
  if (platform::thread_start(worker_body, nullptr) != 0) {
    running.store(false);
    return 1;
  }
  return 0;
}

#ifndef _WIN32
void worker_stop() {
  if (!running.load()) return;
  stopping.store(true);
  while (running.load()) platform::sleep_ms(10);
  stopping.store(false);
}
#endif

}  // namespace snapshot
