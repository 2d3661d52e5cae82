// Shared set-up of the tests that drive the snapshot worker: gpaInit has run,
// the reference web server takes uploads for the test provider, and a worker
// state whose passes the test hands the time.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "service/session_responder.h"
#include "service/stats_http_server.h"
#include "platform/native/test_controls.h"
#include "snapshot/queue_folder.h"
#include "snapshot/session_exchange.h"
#include "snapshot/snapshot_send.h"
#include "snapshot/snapshot_body.h"
#include "snapshot/worker.h"
#include "snapshot_fixture.h"

namespace snapshot_test {

class worker_fixture : public snapshot_fixture {
 protected:
  void SetUp() override {
    snapshot_fixture::SetUp();
    web_.add_provider(snapshot_test::provider);
    block_->start_time = 1799990000;  // gpaInit has run
    state_ = uploads_only();
    std::string error;
    ASSERT_TRUE(web_.start(&error)) << error;
    platform::test::map_send_port(snapshot::upload_port, web_.port());
  }
  // A worker whose session exchange is never due: most tests here are about
  // uploads alone.
  static snapshot::worker_state uploads_only() {
    snapshot::worker_state s;
    s.exchanged = true;
    s.last_exchange = UINT32_MAX;
    return s;
  }
  void TearDown() override {
    snapshot::worker_stop();
    platform::socket_close(state_.session_socket);
    web_.stop();
    platform::test::map_send_port(snapshot::upload_port, 0);
    platform::test::map_send_port(snapshot::session_port, 0);
    platform::test::clear_test_points();
    snapshot_fixture::TearDown();
  }
  // A session responder on a port of its own, where the library's session
  // requests go.
  static bool start_responder(service::session_responder& responder) {
    if (!responder.start()) return false;
    platform::test::map_send_port(snapshot::session_port, responder.port());
    return true;
  }
  static void submit(uint32_t sequence) { submit_data(sequence, "snap-" + std::to_string(sequence)); }
  static void submit_data(uint32_t sequence, const std::string& data, bool keep = false) {
    snapshot::snapshot_record r;
    r.header_reserve = snapshot::header_reserve_size;
    r.sequence = sequence;
    ASSERT_EQ(snapshot::build_snapshot(r, reinterpret_cast<const uint8_t*>(data.data()),
                                       data.size(), 1, 2, 3, 4),
              0);
    if (keep) snapshot::keep_snapshot(r);
    ASSERT_EQ(snapshot::enqueue(&r), 0);
  }
  // As the script's submission does it: the next number, a queue file, the queue.
  static void submit_kept(const std::string& data) {
    submit_data(snapshot::next_sequence(), data, true);
  }
  // The process ends and another starts on the same per-user folder: memory
  // is gone, the files stay, and its start-up restores them.
  void restart() {
    snapshot::queue_reset();
    snapshot::queue_folder_reset();
    snapshot::submission_counter = 0;
    state_ = uploads_only();
    snapshot::restore_queue();
  }
  std::vector<std::string> arrived() const {
    std::vector<std::string> out;
    for (const auto& s : web_.snapshots()) out.emplace_back(s.data.begin(), s.data.end());
    return out;
  }

  service::stats_http_server web_{snapshot_test::keys(), 0};
  snapshot::worker_state state_;
};

}  // namespace snapshot_test
