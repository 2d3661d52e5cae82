// The upload of one snapshot against the reference statistics web server on
// 127.0.0.1 (its port 80 mapped to one of the test's own): the request byte for byte, the snapshot as the service decodes
// it, each kind of reply, a refusing first address, and a silent server.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
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
    platform::test::map_send_port(snapshot::upload_port, server_.port());
  }
  void TearDown() override {
    server_.stop();
    platform::test::set_stream_send(nullptr);
    platform::test::map_send_port(snapshot::upload_port, 0);
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

  // On a port of its own: the library's connections to port 80 come here.
  service::stats_http_server server_{snapshot_test::keys(), 0};
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

  // A provider the service does not know: refused with 400.
  text::copy_bounded(block_->provider_id, sizeof block_->provider_id, "PROV-unknown");
  snapshot::snapshot_record stranger = make("x");
  snapshot::send_report report;
  EXPECT_EQ(snapshot::send_snapshot(stranger, &report), snapshot::send_refused);
  EXPECT_EQ(std::string(report.status_line), "HTTP/1.1 400 Bad Request");
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

// The monotonic clock stands still; every wait moves it on by step_ms, as if
// the wait had lasted that long.  What an attempt costs is then read off the
// test clock, whatever the machine's speed.
class simulated_waits {
 public:
  explicit simulated_waits(uint64_t step_ms) {
    platform::test::hold_monotonic();
    start_ = platform::monotonic_ms();
    platform::test::set_wait_hook([step_ms] { platform::test::advance_monotonic(step_ms); });
  }
  ~simulated_waits() {
    platform::test::set_wait_hook(nullptr);
    platform::test::use_running_monotonic();
  }
  uint64_t elapsed_ms() const { return platform::monotonic_ms() - start_; }

 private:
  uint64_t start_ = 0;
};

// A server that answers with keep-alive and never closes: the reply is whole
// once its Content-Length body is in, and the attempt ends there.
TEST_F(SnapshotUpload, KeepAliveReplyEndsAtItsBody) {
  ASSERT_TRUE(server_.set_fault(fault::keep_alive));
  snapshot::snapshot_record r = make("kept alive");
  simulated_waits waits(200);
  snapshot::send_report report;
  EXPECT_EQ(snapshot::send_snapshot(r, &report), snapshot::send_delivered);
  EXPECT_LT(waits.elapsed_ms(), 1000u);
  EXPECT_EQ(server_.accepted(), 1u);
  snapshot::release_snapshot(r);
}

// "Come back later" and a connection reset after the request are passing
// troubles: the snapshot is tried again, never counted as refused, and a
// 4xx that is not one of those is a refusal.
TEST_F(SnapshotUpload, BusyAndResetRepliesAreTriedAgainOtherRefusalsAreNot) {
  struct reply_case {
    fault what;
    int status;
    int outcome;
  };
  for (const reply_case& c : {reply_case{fault::status, 408, snapshot::send_transient},
                              reply_case{fault::status, 429, snapshot::send_transient},
                              reply_case{fault::status, 403, snapshot::send_refused},
                              reply_case{fault::reset, 0, snapshot::send_transient}}) {
    server_.set_status(c.status);
    ASSERT_TRUE(server_.set_fault(c.what));
    snapshot::snapshot_record r = make("busy");
    snapshot::send_report report;
    EXPECT_EQ(snapshot::send_snapshot(r, &report), c.outcome) << c.status;
    EXPECT_EQ(report.outcome, c.outcome) << c.status;
    EXPECT_EQ(server_.accepted(), 0u);
    snapshot::release_snapshot(r);
  }
}

// On Windows a reset connection stays readable and every receive fails: one
// failed receive must end the read, not poll on until the deadline.
TEST_F(SnapshotUpload, FailedReceiveEndsTheRead) {
  ASSERT_TRUE(server_.set_fault(fault::keep_alive));
  std::atomic<int> receives{0};
  platform::test::set_stream_receive([&](platform::socket_handle, void*, size_t) {
    ++receives;
    return -1;
  });
  snapshot::snapshot_record r = make("reset");
  simulated_waits waits(200);
  snapshot::send_report report;
  EXPECT_EQ(snapshot::send_snapshot(r, &report), snapshot::send_transient);
  EXPECT_EQ(receives.load(), 1);
  EXPECT_LT(waits.elapsed_ms(), 1000u);
  EXPECT_EQ(report.step, snapshot::send_step::reply);
  EXPECT_NE(log_text().find("SNAPSHOT: server replied with (0) -> ''\r\n"), std::string::npos);
  snapshot::release_snapshot(r);
}

// A peer that accepts and never reads holds the send no longer than the stall
// limit: the attempt fails with part of the request sent.
TEST_F(SnapshotUpload, PeerThatNeverReads) {
  ASSERT_TRUE(server_.set_fault(fault::never_read));
  snapshot::snapshot_record r = make(std::string(24u << 20, 'n'));
  simulated_waits waits(2500);
  snapshot::send_report report;
  EXPECT_EQ(snapshot::send_snapshot(r, &report), snapshot::send_transient);
  EXPECT_EQ(report.step, snapshot::send_step::send);
  EXPECT_GE(waits.elapsed_ms(), snapshot::send_stall_ms);
  EXPECT_LE(waits.elapsed_ms(), 2 * snapshot::send_stall_ms);
  EXPECT_EQ(count_of(log_text(), "SNAPSHOT: sent "), 1);
  EXPECT_EQ(log_text().find("SNAPSHOT: server replied"), std::string::npos);
  snapshot::release_snapshot(r);
}

// A peer that takes a little every few seconds: the whole request takes many
// times the stall limit, but no gap reaches it, so all of it goes out and the
// service accepts the snapshot.  The peer's pace is set on the test clock
// (every wait lasts a second there), and what it takes goes on to the server.
TEST_F(SnapshotUpload, SlowButSteadyPeerGetsTheWholeSnapshot) {
  const std::string data(30000, 's');
  snapshot::snapshot_record r = make(data);
  constexpr size_t taken_each_time = 2000;
  constexpr uint64_t gap_ms = snapshot::send_stall_ms * 4 / 10;
  simulated_waits waits(1000);
  uint64_t next_take = platform::monotonic_ms();
  size_t taken = 0;
  platform::test::set_stream_send([&](platform::socket_handle s, const void* bytes, size_t length) {
    if (platform::monotonic_ms() < next_take) return 0;
    next_take = platform::monotonic_ms() + gap_ms;
    const ssize_t n = ::send(static_cast<int>(s), bytes, std::min(length, taken_each_time), MSG_NOSIGNAL);
    if (n > 0) taken += static_cast<size_t>(n);
    return n < 0 ? -1 : static_cast<int>(n);
  });
  snapshot::send_report report;
  EXPECT_EQ(snapshot::send_snapshot(r, &report), snapshot::send_delivered) << report.failure;
  platform::test::set_stream_send(nullptr);
  const size_t total = size_t{r.header_length} + r.body_length;
  EXPECT_EQ(taken, total);
  EXPECT_GT(waits.elapsed_ms(), 3 * snapshot::send_stall_ms) << "the send outlasted the stall limit";
  const auto seen = server_.snapshots();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(std::string(seen[0].data.begin(), seen[0].data.end()), data);
  snapshot::release_snapshot(r);
}

// A listener whose queue is full leaves a connection attempt unanswered: it
// gives up after the connect limit with a time-out.
TEST_F(SnapshotUpload, UnansweredConnectGivesUp) {
  server_.stop();
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = 0;
  sa.sin_addr.s_addr = ip(127, 0, 0, 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  socklen_t length = sizeof sa;
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &length), 0);
  platform::test::map_send_port(snapshot::upload_port, ntohs(sa.sin_port));
  // Fill the accept queue: later attempts get no answer at all.
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    const int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(f, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    fillers.push_back(f);
  }
  snapshot::snapshot_record r = make("unanswered");
  {
    simulated_waits waits(2500);
    snapshot::send_report report;
    EXPECT_EQ(snapshot::send_snapshot(r, &report), snapshot::send_transient);
    EXPECT_EQ(report.step, snapshot::send_step::connect);
    EXPECT_GE(waits.elapsed_ms(), snapshot::connect_wait_ms);
    EXPECT_LT(waits.elapsed_ms(), snapshot::connect_wait_ms + 5000);
  }
  EXPECT_NE(log_text().find("SNAPSHOT: could not connect to 127.0.0.1 (" +
                            std::to_string(platform::timed_out_error) + ")\r\n"),
            std::string::npos);
  for (int f : fillers) ::close(f);
  ::close(listener);
  snapshot::release_snapshot(r);
}

TEST(SnapshotReply, OutcomeOfEachReply) {
  const struct {
    const char* text;
    int outcome;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\n\r\nOK", snapshot::send_delivered},
      {"HTTP/1.1 400 Bad Request\r\n", snapshot::send_refused},
      {"HTTP/1.0 404 Not Found\n", snapshot::send_refused},
      {"HTTP/1.1 403\r\n", snapshot::send_refused},
      {"HTTP/1.1 408 Request Timeout\r\n", snapshot::send_transient},
      {"HTTP/1.1 429 Too Many Requests\r\n", snapshot::send_transient},
      {"HTTP/1.1 500 Internal Server Error\r\n", snapshot::send_transient},
      {"HTTP/1.1 503 Service Unavailable\r\n", snapshot::send_transient},
      {"HTTP/1.1 301 Moved\r\n", snapshot::send_transient},
      {"HTTP/1.1 400 Bad Request", snapshot::send_transient},  // the line is not whole
      {"HTTP/1.1 40", snapshot::send_transient},
      {"HTTP/1.1 4000 Odd\r\n", snapshot::send_transient},
      {"garbage 400 x\r\n", snapshot::send_transient},
      {"", snapshot::send_transient},
  };
  for (const auto& c : cases) EXPECT_EQ(snapshot::reply_outcome(c.text), c.outcome) << c.text;
}

TEST(SnapshotReply, WholeOnceHeadAndAnnouncedBodyAreIn) {
  const struct {
    const char* text;
    bool whole;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nOK", true},
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nO", false},
      {"HTTP/1.1 200 OK\r\ncontent-length:  5\r\n\r\n12345", true},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n1234", false},
      {"HTTP/1.1 200 OK\r\nConnection: keep-alive\r\n\r\n", true},  // no body announced
      {"HTTP/1.1 200 OK\nContent-Length: 1\n\nx", true},
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n", false},  // head not ended
      {"HTTP/1.1 200 OK\r\nX-Content-Length: 9\r\n\r\n", true},
      {"HTTP/1.1 200 OK\r\nContent-Length: 999999999999\r\n\r\n", false},
      {"HTTP/1.1 200 OK", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(snapshot::reply_complete(c.text, std::strlen(c.text)), c.whole) << c.text;
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
