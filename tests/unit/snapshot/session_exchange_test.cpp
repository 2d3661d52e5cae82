// The session exchange against the reference session responder on a
// loopback port of its own: what an accepted reply stores, every reply that
// must be ignored, its two-second wait on the monotonic clock, and the reply
// check against a reply made here by hand.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <poll.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "service/session_responder.h"
#include "snapshot/session_exchange.h"
#include "snapshot/session_messages.h"
#include "snapshot_fixture.h"

namespace {

using fault = service::session_responder::fault;

class SessionExchange : public snapshot_test::snapshot_fixture {
 protected:
  void SetUp() override {
    snapshot_fixture::SetUp();
    block_->start_time = 1799990000;
    block_->session_flags = 0x10;
    responder_.add_provider(snapshot_test::provider);
    responder_.set_flags(0xA5);
    responder_.set_service_time(1800000777);
    ASSERT_TRUE(responder_.start());
    platform::test::map_send_port(snapshot::session_port, responder_.port());
    socket_ = platform::udp_open();
    ASSERT_NE(socket_, platform::invalid_socket);
  }
  void TearDown() override {
    platform::socket_close(socket_);
    responder_.stop();
    platform::test::map_send_port(snapshot::session_port, 0);
    snapshot_fixture::TearDown();
  }
  // Nothing waits to be read on the exchange's socket.
  bool socket_drained() const {
    pollfd p{static_cast<int>(socket_), POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
  }
  service::session_responder responder_{snapshot_test::keys(), 0};
  platform::socket_handle socket_ = platform::invalid_socket;
};

TEST_F(SessionExchange, AcceptedReplySetsFlagsServiceTimeAndMidpoint) {
  EXPECT_EQ(snapshot::session_exchange(socket_), 0);
  EXPECT_EQ(block_->session_flags, 0xA5u);
  EXPECT_EQ(block_->service_time, 1800000777u);
  EXPECT_EQ(block_->exchange_midpoint, snapshot_test::test_date) << "T0 + (now - T0) / 2";

  const auto seen = responder_.exchanges();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].provider_id, snapshot_test::provider);
  EXPECT_EQ(seen[0].time, snapshot_test::test_date);
  EXPECT_EQ(seen[0].interface_address, block_->interface_address);
  EXPECT_EQ(seen[0].server_address, block_->server_address);
  EXPECT_EQ(seen[0].game_port, 16567);
  EXPECT_EQ(seen[0].query_port, 29900);
  EXPECT_EQ(seen[0].session_flags, 0x10u) << "the flags held before the exchange";
  EXPECT_EQ(seen[0].start_time, 1799990000u);
  EXPECT_EQ(seen[0].process_id, platform::process_id());
}

TEST_F(SessionExchange, RepliesItMustIgnore) {
  const fault faults[] = {fault::silence, fault::wrong_length, fault::other_sender,
                          fault::digest_without_r, fault::wrong_port};
  // The monotonic clock stands still until the responder has handled the
  // request and the library has read every reply it sent; only then does it
  // jump past the wait, so each bad reply is dropped, not missed.
  std::atomic<bool> handled{false};
  responder_.on_request([&](const service::session_request_seen&, bool) { handled = true; });
  platform::test::hold_monotonic();
  platform::test::set_wait_hook([&] {
    if (handled && socket_drained()) platform::test::advance_monotonic(snapshot::session_wait_ms);
  });
  for (fault f : faults) {
    SCOPED_TRACE(static_cast<int>(f));
    responder_.set_fault(f);
    responder_.clear();
    handled = false;
    EXPECT_EQ(snapshot::session_exchange(socket_), 1);
    EXPECT_TRUE(handled);
    EXPECT_EQ(responder_.exchanges().size(), 1u) << "the request itself was valid";
    EXPECT_EQ(block_->session_flags, 0x10u);
    EXPECT_EQ(block_->service_time, 0u);
    EXPECT_EQ(block_->exchange_midpoint, 0u);
  }

  // A responder that does not know this provider does not answer at all.
  responder_.set_fault(fault::none);
  handled = false;
  text::copy_bounded(block_->provider_id, sizeof block_->provider_id, "PROV-unknown");
  EXPECT_EQ(snapshot::session_exchange(socket_), 1);
  EXPECT_TRUE(handled);
  EXPECT_EQ(block_->service_time, 0u);
}

TEST_F(SessionExchange, WaitsTwoSecondsOnTheMonotonicClock) {
  // Each wait moves the held clock by one poll: with no reply the exchange
  // gives up exactly at the deadline, whatever the date does meanwhile.
  platform::test::hold_monotonic();
  const uint64_t began = platform::monotonic_ms();
  constexpr int waits_in_deadline = snapshot::session_wait_ms / snapshot::session_poll_ms;
  int waits = 0;
  platform::test::set_wait_hook([&] {
    if (++waits == 2) platform::test::set_clock(snapshot_test::test_date + 86400);
    if (waits == 3) platform::test::set_clock(snapshot_test::test_date - 3600);
    platform::test::advance_monotonic(snapshot::session_poll_ms);
  });
  responder_.set_fault(fault::silence);
  EXPECT_EQ(snapshot::session_exchange(socket_), 1);
  EXPECT_EQ(platform::monotonic_ms() - began, snapshot::session_wait_ms);
  EXPECT_EQ(waits, waits_in_deadline);
}

TEST_F(SessionExchange, NoStatisticsHostNoRequest) {
  snapshot_test::map_stats_host(0);
  EXPECT_EQ(snapshot::session_exchange(socket_), 1);
  // A request from the same socket would reach the responder before the next
  // exchange's: once that one is answered, the count is complete.
  snapshot_test::map_stats_host(snapshot_test::ip(127, 0, 0, 1));
  EXPECT_EQ(snapshot::session_exchange(socket_), 0);
  EXPECT_EQ(responder_.requests(), 1);
}

std::vector<uint8_t> md5(const std::vector<uint8_t>& m) {
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(m.data(), m.size(), d, &n, EVP_md5(), nullptr);
  return std::vector<uint8_t>(d, d + 16);
}

// A reply laid out by hand from the format table, signed with OpenSSL's MD5
// and enciphered with the cipher written out here.
TEST(SessionReply, HandMadeReplyIsAcceptedAndEveryChangeRefused) {
  const uint8_t r[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const char* p = "PROV-hand";
  const snapshot::session_identity id{0x0700A8C0, 0x0302010A, 16567, 29900};
  std::vector<uint8_t> plain = {'H', 'R', 'S', 'R', 0x15, 0xCD, 0x5B, 0x07,   // time 123456789
                                0xC0, 0xA8, 0x00, 0x07, 0x0A, 0x01, 0x02, 0x03,  // addresses
                                0xB7, 0x40, 0xCC, 0x74,                          // ports
                                0xEF, 0xBE, 0xAD, 0xDE};                         // flags
  plain.resize(40, 0x99);
  std::vector<uint8_t> signed_part(r, r + 8);
  signed_part.insert(signed_part.end(), plain.begin(), plain.end());
  signed_part.insert(signed_part.end(), p, p + std::strlen(p));
  const std::vector<uint8_t> digest = md5(signed_part);
  std::vector<uint8_t> reply = plain;
  reply.insert(reply.end(), digest.begin(), digest.end());
  uint8_t previous = deploy::session_reply_start_byte;
  for (size_t i = 4; i < 40; ++i) {
    reply[i] = static_cast<uint8_t>(plain[i] ^ digest[(i - 4) % 16] ^ previous);
    previous = reply[i];
  }

  uint32_t flags = 0, service_time = 0;
  ASSERT_EQ(snapshot::check_session_reply(reply.data(), reply.size(), r, id, p, &flags,
                                          &service_time),
            0);
  EXPECT_EQ(flags, 0xDEADBEEFu);
  EXPECT_EQ(service_time, 123456789u);

  const uint8_t other_r[8] = {1, 2, 3, 4, 5, 6, 7, 9};
  EXPECT_EQ(snapshot::check_session_reply(reply.data(), reply.size(), other_r, id, p, &flags,
                                          &service_time),
            1);
  EXPECT_EQ(snapshot::check_session_reply(reply.data(), 55, r, id, p, &flags, &service_time), 1);
  EXPECT_EQ(snapshot::check_session_reply(reply.data(), reply.size(), r, id, "PROV-other", &flags,
                                          &service_time),
            1);
  snapshot::session_identity other_port = id;
  other_port.query_port = 29901;
  EXPECT_EQ(snapshot::check_session_reply(reply.data(), reply.size(), r, other_port, p, &flags,
                                          &service_time),
            1);
  for (size_t at : {size_t{0}, size_t{4}, size_t{30}, size_t{50}}) {
    std::vector<uint8_t> changed = reply;
    changed[at] ^= 0x01;
    EXPECT_EQ(snapshot::check_session_reply(changed.data(), changed.size(), r, id, p, &flags,
                                            &service_time),
              1)
        << at;
  }
}

}  // namespace
