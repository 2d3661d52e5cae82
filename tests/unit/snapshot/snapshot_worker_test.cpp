// The snapshot worker's passes on a test clock (whole seconds handed to each
// pass) against the reference web server and session responder: retry
// intervals, the order snapshots leave in, the exchange schedule, and the
// worker thread started and stopped.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "library/startup.h"
#include "service/session_responder.h"
#include "service/stats_http_server.h"
#include "snapshot/session_exchange.h"
#include "snapshot/snapshot_body.h"
#include "snapshot/worker.h"
#include "snapshot_worker_fixture.h"

namespace {

using web_fault = service::stats_http_server::fault;
using SnapshotWorker = snapshot_test::worker_fixture;

TEST_F(SnapshotWorker, RetryIntervalsAfterFailureAndSuccess) {
  const struct {
    uint64_t now;
    web_fault server;
    std::vector<uint32_t> submit_before;
    size_t arrived;
    size_t queued;
  } steps[] = {
      {1000, web_fault::refuse, {1}, 0, 1},  // fails, goes back into the queue
      {1009, web_fault::none, {}, 0, 1},     // 10 s not yet passed
      {1010, web_fault::none, {}, 1, 0},     // sent
      {1010, web_fault::none, {2, 3}, 1, 2},  // 1 s not yet passed
      {1011, web_fault::none, {}, 2, 1},
      {1012, web_fault::none, {}, 3, 0},
      {1013, web_fault::none, {}, 3, 0},  // nothing queued: the attempt time stays 1012
      {1013, web_fault::none, {4}, 4, 0},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.now);
    ASSERT_TRUE(web_.set_fault(step.server));
    for (uint32_t s : step.submit_before) submit(s);
    snapshot::worker_pass(state_, step.now);
    EXPECT_EQ(web_.snapshots().size(), step.arrived);
    EXPECT_EQ(snapshot::queue_count(), step.queued);
  }
  EXPECT_EQ(arrived(), (std::vector<std::string>{"snap-1", "snap-2", "snap-3", "snap-4"}));
  const std::string log = log_text();
  EXPECT_EQ(count_of(log, "SNAPSHOT: could not send request - requeued\r\n"), 1);
  EXPECT_EQ(count_of(log, " bytes sent\r\n"), 4);
  EXPECT_NE(log.find("+70 bytes sent\r\n"), std::string::npos);  // header + body length
}

TEST_F(SnapshotWorker, ElevenWhileUnreachableThenOldestFirst) {
  ASSERT_TRUE(web_.set_fault(web_fault::refuse));
  for (uint32_t s = 1; s <= 11; ++s) submit(s);
  EXPECT_NE(log_text().find("SNAPSHOT: snapshot 1 (70 bytes) discarded: queue full"),
            std::string::npos);
  snapshot::worker_pass(state_, 500);
  EXPECT_EQ(snapshot::queue_count(), 10u) << "the failed one is back";
  ASSERT_TRUE(web_.set_fault(web_fault::none));
  for (uint64_t now = 510; now < 520; ++now) snapshot::worker_pass(state_, now);
  std::vector<std::string> expected;
  for (uint32_t s = 2; s <= 11; ++s) expected.push_back("snap-" + std::to_string(s));
  EXPECT_EQ(arrived(), expected);
}

// While the upload fails, ten newer snapshots fill the queue: the one that
// failed cannot go back and is logged as it is released.
std::atomic<int> fill_calls{0};
void* fill_queue_then_fail(const char*) {
  if (fill_calls++ == 0) {
    for (uint32_t s = 100; s < 110; ++s) {
      snapshot::snapshot_record r;
      r.buffer = new uint8_t[64];
      r.body_length = 64;
      r.sequence = s;
      snapshot::enqueue(&r);
    }
  }
  return nullptr;
}

TEST_F(SnapshotWorker, SnapshotThatCannotGoBackIsLogged) {
  snapshot_test::map_stats_host(0);
  fill_calls = 0;
  platform::test::set_real_gethostbyname(fill_queue_then_fail);
  submit(7);
  snapshot::worker_pass(state_, 100);
  EXPECT_EQ(snapshot::queue_count(), 10u);
  const std::string log = log_text();
  EXPECT_NE(log.find("SNAPSHOT: cannot resolve hostname\r\n"), std::string::npos);
  EXPECT_NE(log.find("SNAPSHOT: snapshot 7 (70 bytes) discarded: could not send request, "
                     "queue full of newer snapshots\r\n"),
            std::string::npos);
  EXPECT_EQ(log.find("requeued"), std::string::npos);
}

// A snapshot the service refuses outright is dropped at its third refusal, at
// the usual retry spacing, and those behind it go on.
TEST_F(SnapshotWorker, RefusedSnapshotDroppedAtItsThirdRefusal) {
  web_.refuse_data("snap-1", 400);
  submit(1);
  submit(2);
  submit(3);
  const struct {
    uint64_t now;
    size_t queued;
  } steps[] = {{100, 3}, {109, 3}, {110, 3}, {120, 2}, {121, 1}, {122, 0}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.now);
    snapshot::worker_pass(state_, step.now);
    EXPECT_EQ(snapshot::queue_count(), step.queued);
  }
  EXPECT_EQ(arrived(), (std::vector<std::string>{"snap-2", "snap-3"}));
  EXPECT_EQ(web_.rejections().size(), 3u);
  const std::string log = log_text();
  EXPECT_EQ(count_of(log, "discarded"), 1);
  EXPECT_NE(log.find("SNAPSHOT: snapshot 1 (70 bytes) discarded: refused 3 times, last with "
                     "'HTTP/1.1 400 Bad Request'\r\n"),
            std::string::npos);
}

// 500, 408 and 429 say "later": the snapshot stays first and is tried again
// every 10 s for as long as it takes, never dropped.
TEST_F(SnapshotWorker, PassingRefusalsAreRetried) {
  for (int status : {500, 408, 429}) {
    SCOPED_TRACE(status);
    web_.clear();
    web_.refuse_data("snap-" + std::to_string(status), status);
    submit(static_cast<uint32_t>(status));
    submit(static_cast<uint32_t>(status) + 1);
    for (uint64_t now = 1000; now <= 1050; now += 10) snapshot::worker_pass(state_, now);
    EXPECT_EQ(web_.rejections().size(), 6u);
    EXPECT_EQ(snapshot::queue_count(), 2u) << "the one behind waits its turn";
    web_.refuse_data("", 0);
    snapshot::worker_pass(state_, 1060);
    snapshot::worker_pass(state_, 1061);
    EXPECT_EQ(arrived(), (std::vector<std::string>{"snap-" + std::to_string(status),
                                                   "snap-" + std::to_string(status + 1)}));
    state_ = uploads_only();
  }
  EXPECT_EQ(log_text().find("discarded"), std::string::npos);
}

// An hour without the service, with a restart of the server after half of
// it, then the service comes back.  Every snapshot arrives exactly once or
// its drop is logged; the log sums the outage up rather than listing it.
TEST_F(SnapshotWorker, HourLongOutageWithARestart) {
  ASSERT_TRUE(web_.set_fault(web_fault::refuse));
  const size_t log_before = log_text().size();
  std::vector<std::string> submitted;
  const auto pass = [&](uint64_t now) {
    if (now % 300 == 0) {  // a round ends every five minutes
      submitted.push_back("round-" + std::to_string(now / 300));
      submit_kept(submitted.back());
    }
    platform::test::advance_clock(1);
    snapshot::worker_pass(state_, now);
  };
  for (uint64_t now = 0; now < 1800; ++now) pass(now);

  // The process ends: memory is gone, the queue folder stays.  Start-up then
  // runs again on the same per-user folder, in a process counting from 0.
  snapshot::queue_reset();
  snapshot::queue_folder_reset();
  snapshot::submission_counter = 0;
  state_ = uploads_only();
  library::restore_snapshot_queue();
  EXPECT_EQ(snapshot::queue_count(), 6u);
  for (uint64_t now = 1800; now < 3600; ++now) pass(now);
  // Twelve rounds, ten slots: two dropped, the oldest first.
  EXPECT_EQ(snapshot::queue_count(), 10u);
  const std::string outage = log_text().substr(log_before);

  ASSERT_TRUE(web_.set_fault(web_fault::none));
  for (uint64_t now = 3600; now < 3620; ++now) snapshot::worker_pass(state_, now);
  const std::vector<std::string> got = arrived();
  const std::string log = log_text();
  size_t accounted = 0;
  for (const std::string& data : submitted) {
    const auto n = std::count(got.begin(), got.end(), data);
    EXPECT_LE(n, 1) << data;
    accounted += static_cast<size_t>(n);
  }
  EXPECT_EQ(got.size(), 10u);
  EXPECT_EQ(count_of(log, "queue full, oldest dropped"), 2);
  EXPECT_EQ(accounted + 2, submitted.size());
  EXPECT_EQ(got.front(), "round-2") << "oldest first across the restart";
  EXPECT_EQ(got.back(), "round-11");
  EXPECT_TRUE(queue_files().empty()) << "delivered and dropped snapshots leave no file";

  // The summary rule: per process the first failure in full (3 lines), then
  // at most one line every five minutes (6 per half hour); the restart's
  // line, the two drops and the log file's first line.
  EXPECT_EQ(count_of(outage, "SNAPSHOT: could not connect to"), 2);
  EXPECT_EQ(count_of(outage, "SNAPSHOT: could not send request - requeued"), 2);
  const int summaries = count_of(outage, "SNAPSHOT: still failing (could not connect to 127.0.0.1 (111))");
  EXPECT_GE(summaries, 10);
  EXPECT_LE(summaries, 12);
  EXPECT_EQ(count_of(outage, "\r\n"), 6 + summaries + 1 + 2 + 1) << outage;
  EXPECT_NE(outage.find("10 snapshots waiting, the oldest "), std::string::npos);
  EXPECT_EQ(count_of(log, "SNAPSHOT: uploads go through again after "), 1);
}

TEST_F(SnapshotWorker, SessionExchangesOnceTheBlockIsFilledThenEveryMinute) {
  state_ = snapshot::worker_state{};
  service::session_responder responder(snapshot_test::keys(), 0);
  responder.add_provider(snapshot_test::provider);
  responder.set_flags(3);
  ASSERT_TRUE(start_responder(responder));
  // The requests a pass sends are read off the seam (the pass runs on this
  // thread); the responder's count is then awaited until it has read them all.
  int sent = 0;
  const auto requests_after = [&](uint64_t now) {
    std::vector<std::string> calls;
    platform::test::record_seam_calls(&calls);
    snapshot::worker_pass(state_, now);
    platform::test::record_seam_calls(nullptr);
    sent += static_cast<int>(std::count(calls.begin(), calls.end(), "udp_send_to"));
    for (int waited = 0; responder.requests() < sent && waited < 5000; waited += 5)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(responder.requests(), sent) << "every request sent was read, no other";
    return responder.requests();
  };

  block_->provider_id[0] = '\0';
  block_->start_time = 1799990000;
  EXPECT_EQ(requests_after(100), 0) << "no provider ID";
  text::copy_bounded(block_->provider_id, sizeof block_->provider_id, snapshot_test::provider);
  block_->start_time = 0;
  EXPECT_EQ(requests_after(101), 0) << "no start time";
  block_->start_time = 1799990000;
  EXPECT_EQ(requests_after(102), 1);
  EXPECT_EQ(block_->session_flags, 3u);

  // The next one fails (silence, cut short on the test clock), and the one
  // after still comes 60 s later.
  responder.set_fault(service::session_responder::fault::silence);
  responder.on_request([](const service::session_request_seen&, bool) {
    platform::test::advance_monotonic(snapshot::session_wait_ms + 500);
  });
  EXPECT_EQ(requests_after(161), 1);
  EXPECT_EQ(requests_after(162), 2);
  EXPECT_EQ(requests_after(221), 2);
  EXPECT_EQ(requests_after(222), 3);
  responder.stop();
}

// A session socket whose handle is gone (the host shut the socket library
// down) is dropped unclosed and the next exchange makes a new one; a socket
// that merely failed is kept.
TEST_F(SnapshotWorker, SessionSocketWhoseHandleIsGoneIsReplaced) {
  state_ = snapshot::worker_state{};
  using fault = platform::test::socket_fault;
  service::session_responder responder(snapshot_test::keys(), 0);
  responder.add_provider(snapshot_test::provider);
  ASSERT_TRUE(start_responder(responder));
  text::copy_bounded(block_->provider_id, sizeof block_->provider_id, snapshot_test::provider);
  block_->start_time = 1799990000;
  const struct {
    fault kind;
    bool replaced;
  } cases[] = {{fault::not_initialised, true}, {fault::not_a_socket, true}, {fault::other, false}};
  uint64_t now = 1000;
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    snapshot::worker_pass(state_, now);
    const platform::socket_handle first = state_.session_socket;
    ASSERT_NE(first, platform::invalid_socket);
    const int before = responder.requests();

    platform::test::set_socket_fault(first, c.kind);
    snapshot::worker_pass(state_, now += snapshot::exchange_interval_s);
    platform::test::clear_socket_faults();
    EXPECT_EQ(state_.session_socket == platform::invalid_socket, c.replaced);
    EXPECT_EQ(responder.requests(), before) << "nothing left on the failed socket";

    snapshot::worker_pass(state_, now += snapshot::exchange_interval_s);
    EXPECT_NE(state_.session_socket, platform::invalid_socket);
    EXPECT_EQ(state_.session_socket != first, c.replaced);
    for (int waited = 0; responder.requests() == before && waited < 2000; waited += 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(responder.requests(), before + 1) << "the next exchange goes out";
    if (state_.session_socket != first) platform::socket_close(first);
    now += snapshot::exchange_interval_s;
  }
  responder.stop();
}

// A producer thread submits while a second thread runs the worker's passes;
// every snapshot arrives once, in order, and the queue ends empty.  Now and
// then the worker is held inside its dequeue (the oldest record taken, its
// slot not yet freed) while the producer submits: the queue's lock keeps the
// submission out until the slot is freed.  Without it the new record moves
// the sorted slots, the slot freed is another record's, and one snapshot
// arrives twice while the one after it never does.
TEST_F(SnapshotWorker, ProducerBesideTheWorkerEachArrivesOnceInOrder) {
  constexpr uint32_t total = 60;
  std::mutex m;
  std::condition_variable cv;
  bool hold_next = false, held = false, submitted = false;
  platform::test::set_test_point("dequeue_taking", [&] {
    std::unique_lock<std::mutex> lock(m);
    if (!hold_next) return;
    hold_next = false;
    held = true;
    cv.notify_all();
    // With the lock kept, the producer's submission waits for this dequeue:
    // the bound lets the dequeue go on.
    cv.wait_for(lock, std::chrono::milliseconds(300), [&] { return submitted; });
  });
  const auto wait_for = [](const std::function<bool()>& done) {
    for (int waited = 0; !done() && waited < 20000; waited += 1)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
  };
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    for (uint64_t now = 1000; !stop.load(); ++now) snapshot::worker_pass(state_, now);
    redirect_test::release_thread_answer_block();  // the name hook's, for this thread
  });
  std::thread producer([&] {
    for (uint32_t sequence = 1; sequence <= total; ++sequence) {
      const bool forced = sequence % 20 == 10;
      // Room for what comes, so that the queue never evicts.
      EXPECT_TRUE(wait_for([&] { return snapshot::queue_count() + (forced ? 2 : 1) <= snapshot::queue_slots; }));
      if (!forced) {
        submit(sequence);
        continue;
      }
      {
        std::lock_guard<std::mutex> lock(m);
        hold_next = true;
        held = submitted = false;
      }
      submit(sequence);  // something for the worker to take
      {
        std::unique_lock<std::mutex> lock(m);
        EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return held; }));
      }
      submit(++sequence);
      {
        std::lock_guard<std::mutex> lock(m);
        submitted = true;
      }
      cv.notify_all();
    }
  });
  producer.join();
  EXPECT_TRUE(wait_for([&] { return web_.snapshots().size() >= total && snapshot::queue_count() == 0; }));
  stop = true;
  worker.join();
  std::vector<std::string> expected;
  for (uint32_t sequence = 1; sequence <= total; ++sequence)
    expected.push_back("snap-" + std::to_string(sequence));
  EXPECT_EQ(arrived(), expected);
  EXPECT_EQ(snapshot::queue_count(), 0u);
  EXPECT_EQ(log_text().find("discarded"), std::string::npos);
}

TEST_F(SnapshotWorker, ThreadUploadsAndStops) {
  ASSERT_EQ(snapshot::worker_start(), 0);
  EXPECT_EQ(snapshot::worker_start(), 0) << "a second start changes nothing";
  submit(1);
  EXPECT_TRUE(web_.wait_for_snapshots(1, 5000));
  snapshot::worker_stop();
  // The thread has left: a new start finds no worker running and asks for a
  // thread (which is refused here), so nothing can take what comes next.
  platform::test::set_thread_start_failing(true);
  EXPECT_EQ(snapshot::worker_start(), 1) << "the stopped worker still counts as running";
  platform::test::set_thread_start_failing(false);
  submit(2);
  EXPECT_EQ(web_.snapshots().size(), 1u) << "a stopped worker uploads nothing";
  EXPECT_EQ(snapshot::queue_count(), 1u);
}

}  // namespace
