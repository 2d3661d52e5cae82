// Snapshot worker.  A snapshot that fails for a passing reason is put back
// with its own sequence, so it keeps its place before later ones; one that the
// service refuses outright is dropped at its third refusal, so that it cannot
// hold back those behind it for ever; one that the full queue will not take
// back is logged as it is released.  The upload runs outside the snapshot lock.
#include "snapshot/worker.h"

#include <atomic>

#include "base/text.h"
#include "core/log.h"
#include "core/service_state.h"
#include "platform/platform.h"
#include "snapshot/queue_folder.h"
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
// publishes the identity and provider ID with the start time (release).  Both
// the session exchange and every upload need them: an upload's check value
// covers the provider ID, and a service refuses one made without it.
bool identity_known(core::service_state* block) {
  return block && std::atomic_ref<uint32_t>(block->start_time).load(std::memory_order_acquire) &&
         block->provider_id[0] != '\0';
}

unsigned long age_of(uint32_t submitted) {
  const uint32_t now = platform::now_seconds();
  return submitted && submitted <= now ? now - submitted : 0;
}

void start_run(worker_state& state, const send_report& report, uint64_t now) {
  state.failing = true;
  state.run_step = report.step;
  state.run_code = report.code;
  state.run_started = now;
  state.run_attempts = 1;
  state.last_summary = now;
  state.attempts_since_summary = 0;
}

// The log of one failed attempt; the attempt itself was quiet when a run of
// failures was already going on.
void note_failure(worker_state& state, const send_report& report, uint64_t now) {
  if (!state.failing) {
    start_run(state, report, now);
    return;
  }
  if (report.step != state.run_step || report.code != state.run_code) {
    core::log_printf("SNAPSHOT: upload now fails otherwise: %s\r\n", report.failure);
    start_run(state, report, now);
    return;
  }
  ++state.run_attempts;
  ++state.attempts_since_summary;
  if (now < state.last_summary + failure_summary_interval_s) return;
  core::log_printf(
      "SNAPSHOT: still failing (%s): %lu more attempts in %lu s, %lu snapshots waiting, "
      "the oldest %lu s old\r\n",
      report.failure, static_cast<unsigned long>(state.attempts_since_summary),
      static_cast<unsigned long>(now - state.last_summary),
      static_cast<unsigned long>(queue_count()), age_of(queue_oldest_submitted()));
  state.last_summary = now;
  state.attempts_since_summary = 0;
}

void requeue(snapshot_record& record, bool quiet) {
  if (enqueue(&record) == 0) {
    if (!quiet) core::log_printf("SNAPSHOT: could not send request - requeued\r\n");
  } else {
    discard_snapshot(record, "could not send request, queue full of newer snapshots");
  }
}

void upload_one(worker_state& state, uint64_t now) {
  snapshot_record record;
  if (dequeue(&record) != 0) return;
  state.attempted = true;
  state.last_attempt = now;
  if (mark_sending(record) != 0) {  // logged there, once
    state.retry_interval = retry_after_failure_s;
    requeue(record, true);
    return;
  }
  send_report report;
  const bool quiet = state.failing;
  const int outcome = send_snapshot(record, &report, quiet);
  if (outcome == send_delivered) {
    if (state.failing)
      core::log_printf("SNAPSHOT: uploads go through again after %lu failed attempts in %lu s\r\n",
                       static_cast<unsigned long>(state.run_attempts),
                       static_cast<unsigned long>(now - state.run_started));
    state.failing = false;
    core::log_printf("SNAPSHOT: %lu+%lu bytes sent\r\n",
                     static_cast<unsigned long>(record.header_length),
                     static_cast<unsigned long>(record.body_length));
    forget_snapshot(record);
    release_snapshot(record);
    state.retry_interval = retry_after_success_s;
  } else {
    // The record goes back (or is dropped) first, so that the summary counts
    // what waits.
    state.retry_interval = retry_after_failure_s;
    if (outcome == send_refused && ++record.refusals >= refusals_before_drop) {
      char why[status_line_size + 40];
      text::format_bounded(why, sizeof why, "refused %lu times, last with '%s'",
                           static_cast<unsigned long>(record.refusals), report.status_line);
      discard_snapshot(record, why);
      // The service answers; those behind the dropped one need not wait.
      state.retry_interval = retry_after_success_s;
    } else {
      unmark_sending(record, outcome == send_refused);
      requeue(record, quiet);
    }
    note_failure(state, report, now);
  }
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
  // The DLL's thread detach frees the name hook's answer block; native
  // threads have none, so the ending worker frees its own.
  redirect::thread_answer_block_release();
#endif
  running.store(false);
}

}  // namespace

void worker_pass(worker_state& state, uint64_t now) {
  core::service_state* block = core::service;
  if (!identity_known(block)) {
    // Restored snapshots wait for gpaInit rather than spend their refusals.
    const size_t waiting = state.waiting_logged ? 0 : queue_count();
    if (waiting > 0) {
      state.waiting_logged = true;
      core::log_printf(
          "SNAPSHOT: %lu snapshot%s waiting: nothing is sent before the server's scripts have "
          "called gpaInit (no provider ID yet)\r\n",
          static_cast<unsigned long>(waiting), waiting == 1 ? "" : "s");
    }
    return;
  }
  if (due(state.exchanged, state.last_exchange, exchange_interval_s, now)) {
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
