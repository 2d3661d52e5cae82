// The upload of one snapshot against the reference statistics web server on
// 127.0.0.1:80: the request byte for byte, the snapshot as the service decodes
// it, each kind of reply, a refusing first address, and a silent server.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "redirect/host_entry.h"
#include "service/stats_http_server.h"
#include "snapshot/snapshot_body.h"
#include "snapshot/snapshot_send.h"
#include "snapshot_fixture.h"

namespace {

using fault = service::stats_http_server::fault;
using snapshot_test::ip;

// The real resolver's answer for the two-address case: 127.0.0.3 (nothing
// listens there) before 127.0.0.1.
void* two_addresses(const char*) {
  static uint32_t addresses[2] = {ip(127, 0, 0, 3), ip(127, 0, 0, 1)};
  static char* list[3] = {reinterpret_cast<char*>(&addresses[0]),
                          reinterpret_cast<char*>(&addresses[1]), nullptr};
  static char* aliases[1] = {nullptr};
  static char name[] = "snapshots.relay.test";
  static redirect::host_entry entry{name, aliases, 2, 4, list};
  return &entry;
}

class SnapshotUpload : public snapshot_test::snapshot_fixture {
 protected:
  void SetUp() override {
    snapshot_fixture::SetUp();
    server_.add_provider("PROV-other");
    server_.add_provider(snapshot_test::provider);
    std::string error;
    ASSERT_TRUE(server_.start(&error)) << error;
  }
  void TearDown() override {
    server_.stop();
    snapshot_fixture::TearDown();
  }
  snapshot::snapshot_record make(const std::string& data) {
    snapshot::snapshot_record r;
    r.header_reserve = snapshot::header_reserve_size;
    r.sequence = 1;
    EXPECT_EQ(snapshot::build_snapshot(r, reinterpret_cast<const uint8_t*>(data.data()),
                                       data.size(), block_->interface_address,
                                       block_->server_address, block_->game_port,
                                       block_->query_port),
              0);
    return r;
  }

  service::stats_http_server server_{snapshot_test::keys()};
};

TEST_F(SnapshotUpload, RequestGoesOutByteForByte) {
  ASSERT_TRUE(server_.set_fault(fault::no_newline));
  const std::string data(20000, 'd');  // more than two pieces of 8000
  snapshot::snapshot_record r = make(data);
  EXPECT_EQ(snapshot::send_snapshot(r), 1) << "a reply without a line end fails";
  const auto raw = server_.raw_requests();
  ASSERT_EQ(raw.size(), 1u);
  const std::string header(reinterpret_cast<char*>(r.buffer) + r.header_offset, r.header_length);
  const std::string body(reinterpret_cast<char*>(r.buffer) + r.header_reserve, r.body_length);
  EXPECT_EQ(raw[0], header + body);
  const size_t blank = raw[0].find("\r\n\r\n");
  ASSERT_NE(blank, std::string::npos);
  EXPECT_EQ(raw[0].substr(blank + 4), "HSNAP1" + body);
  EXPECT_NE(raw[0].find("\r\nContent-Length: " + std::to_string(6 + 64 + data.size()) + "\r\n"),
            std::string::npos);
  const std::string log = log_text();
  EXPECT_NE(log.find("SNAPSHOT: trying to send snapshot (20064 bytes) ...\r\n"), std::string::npos);
  EXPECT_NE(log.find("SNAPSHOT: connected to 127.0.0.1\r\n"), std::string::npos);
  const int total = static_cast<int>(header.size() + body.size());
  EXPECT_NE(log.find("SNAPSHOT: sent " + std::to_string(total) + "/" + std::to_string(total) +
                     " bytes of data\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("SNAPSHOT: server replied with (15) -> 'HTTP/1.1 200 OK'\r\n"),
            std::string::npos);
  snapshot::release_snapshot(r);
}

TEST_F(SnapshotUpload, ServiceDecodesWhatItAccepts) {
  block_->start_time = 1799990000;
  snapshot::snapshot_record r = make("score=12");
  EXPECT_EQ(snapshot::send_snapshot(r), 0);
  const auto seen = server_.snapshots();
  ASSERT_EQ(seen.size(), 1u) << (server_.rejections().empty() ? "" : server_.rejections()[0]);
  EXPECT_EQ(seen[0].provider_id, snapshot_test::provider);
  EXPECT_EQ(std::string(seen[0].data.begin(), seen[0].data.end()), "score=12");
  EXPECT_EQ(seen[0].game_port, 16567);
  EXPECT_EQ(seen[0].query_port, 29900);
  EXPECT_EQ(seen[0].server_address, block_->server_address);
  EXPECT_EQ(seen[0].interface_address, block_->interface_address);
  EXPECT_EQ(seen[0].time, snapshot_test::test_date);
  EXPECT_EQ(seen[0].exchange_midpoint, 0u) << "no session exchange yet";
  EXPECT_EQ(seen[0].service_time, 0u);
  EXPECT_EQ(seen[0].start_time, 1799990000u);
  EXPECT_EQ(seen[0].header_time, snapshot_test::test_date);
  EXPECT_EQ(seen[0].from_address, ip(127, 0, 0, 1));

  // A retry carries the latest session values and a fresh header time.
  block_->exchange_midpoint = 1800000050;
  block_->service_time = 1800000060;
  platform::test::advance_clock(100);
  EXPECT_EQ(snapshot::send_snapshot(r), 0);
  ASSERT_TRUE(server_.wait_for_snapshots(2, 1000));
  const auto again = server_.snapshots()[1];
  EXPECT_EQ(again.exchange_midpoint, 1800000050u);
  EXPECT_EQ(again.service_time, 1800000060u);
  EXPECT_EQ(again.header_time, snapshot_test::test_date + 100);
  EXPECT_EQ(again.time, snapshot_test::test_date) << "the body is built once";
  snapshot::release_snapshot(r);

  // A provider the service does not know: refused with 400, the upload fails.
  text::copy_bounded(block_->provider_id, sizeof block_->provider_id, "PROV-unknown");
  snapshot::snapshot_record stranger = make("x");
  EXPECT_EQ(snapshot::send_snapshot(stranger), 1);
  EXPECT_NE(log_text().find("SNAPSHOT: server replied with ("), std::string::npos);
  EXPECT_NE(log_text().find("HTTP/1.1 400 Bad Request"), std::string::npos);
  snapshot::release_snapshot(stranger);
}

TEST_F(SnapshotUpload, EachKindOfReply) {
  const struct {
    fault f;
    int result;
    const char* log_part;
  } cases[] = {
      {fault::answer_500, 1, "-> 'HTTP/1.1 500 Internal Server Error\r\n"},
      {fault::slow, 0, "SNAPSHOT: connected to 127.0.0.1\r\n"},
      {fault::refuse, 1, "SNAPSHOT: could not connect to 127.0.0.1 (111)\r\n"},
      {fault::none, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.f));
    ASSERT_TRUE(server_.set_fault(c.f));
    snapshot::snapshot_record r = make("abc");
    EXPECT_EQ(snapshot::send_snapshot(r), c.result);
    EXPECT_NE(log_text().find(c.log_part), std::string::npos);
    snapshot::release_snapshot(r);
  }
  // The 500 reply is logged cut to 400 characters at most.
  const std::string log = log_text();
  const size_t at = log.find("-> 'HTTP/1.1 500");
  ASSERT_NE(at, std::string::npos);
  EXPECT_LE(log.find("'\r\n", at) - at, 4u + 400u);
}

TEST_F(SnapshotUpload, SecondAddressAfterARefusingFirst) {
  snapshot_test::map_stats_host(0);
  platform::test::set_real_gethostbyname(two_addresses);
  snapshot::snapshot_record r = make("second");
  EXPECT_EQ(snapshot::send_snapshot(r), 0);
  EXPECT_EQ(server_.snapshots().size(), 1u);
  const std::string log = log_text();
  EXPECT_EQ(count_of(log, "SNAPSHOT: could not connect to 127.0.0.3 (111)\r\n"), 1);
  EXPECT_NE(log.find("SNAPSHOT: connected to 127.0.0.1\r\n"), std::string::npos);

  // No address at all.
  platform::test::set_real_gethostbyname(nullptr);
  EXPECT_EQ(snapshot::send_snapshot(r), 1);
  EXPECT_NE(log_text().find("SNAPSHOT: cannot resolve hostname\r\n"), std::string::npos);
  snapshot::release_snapshot(r);
}

TEST_F(SnapshotUpload, HeaderThatDoesNotFitTheReserve) {
  snapshot::snapshot_record r;
  r.header_reserve = 100;
  ASSERT_EQ(snapshot::build_snapshot(r, nullptr, 0, 1, 2, 3, 4), 0);
  EXPECT_EQ(snapshot::send_snapshot(r), 1);
  EXPECT_NE(log_text().find("SNAPSHOT: cannot prepare header\r\n"), std::string::npos);
  EXPECT_EQ(server_.connections(), 0);
  snapshot::release_snapshot(r);
}

// The reply wait ends at its deadline however the server behaves: once on the
// test clock (moved past the deadline while the server says nothing), once for
// real.
TEST_F(SnapshotUpload, SilentServerFailsAtTheReplyDeadline) {
  ASSERT_TRUE(server_.set_fault(fault::silent));
  snapshot::snapshot_record r = make("silence");
  std::thread mover([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    platform::test::advance_monotonic(snapshot::reply_wait_ms + 1000);
  });
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(snapshot::send_snapshot(r), 1);
  mover.join();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_NE(log_text().find("SNAPSHOT: server replied with (0) -> ''\r\n"), std::string::npos);

  const auto t1 = std::chrono::steady_clock::now();
  EXPECT_EQ(snapshot::send_snapshot(r), 1);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
  EXPECT_GE(seconds, 9.8);
  EXPECT_LT(seconds, 12.5);
  EXPECT_EQ(count_of(log_text(), "SNAPSHOT: server replied with (0) -> ''\r\n"), 2);
  snapshot::release_snapshot(r);
}

TEST(SnapshotReply, SuccessNeedsTheStatusInTheFirstLine) {
  const struct {
    const char* text;
    bool ok;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\n\r\nOK", true},
      {"HTTP/1.0 200 OK\n", true},
      {"HTTP/1.1 200 OK", false},
      {"HTTP/1.1 500 Internal Server Error\r\n\r\n 200 OK\n", false},
      {"HTTP/1.1 200 OKAY\r\n", true},
      {"\n 200 OK\n", false},
      {"", false},
      {"HTTP/1.1 200 O\nK", false},
  };
  for (const auto& c : cases) EXPECT_EQ(snapshot::reply_succeeded(c.text), c.ok) << c.text;
}

}  // namespace
