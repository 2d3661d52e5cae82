// The session exchange against the reference session responder on
// 127.0.0.1:29950: what an accepted reply stores, every reply that must be
// ignored, and the reply check against a reply made here by hand.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstring>
#include <thread>
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
    socket_ = platform::udp_open();
    ASSERT_NE(socket_, platform::invalid_socket);
  }
  void TearDown() override {
    platform::socket_close(socket_);
    responder_.stop();
    snapshot_fixture::TearDown();
  }
  service::session_responder responder_{snapshot_test::keys()};
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
  // Each bad reply has reached the library (and been dropped) before the
  // test clock is moved past the two seconds the exchange waits.
  responder_.on_request([](const service::session_request_seen&, bool) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    platform::test::advance_monotonic(snapshot::session_wait_ms + 500);
  });
  for (fault f : faults) {
    SCOPED_TRACE(static_cast<int>(f));
    responder_.set_fault(f);
    responder_.clear();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(snapshot::session_exchange(socket_), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1500));
    EXPECT_EQ(responder_.exchanges().size(), 1u) << "the request itself was valid";
    EXPECT_EQ(block_->session_flags, 0x10u);
    EXPECT_EQ(block_->service_time, 0u);
    EXPECT_EQ(block_->exchange_midpoint, 0u);
  }

  // A responder that does not know this provider does not answer at all.
  responder_.set_fault(fault::none);
  text::copy_bounded(block_->provider_id, sizeof block_->provider_id, "PROV-unknown");
  EXPECT_EQ(snapshot::session_exchange(socket_), 1);
  EXPECT_EQ(block_->service_time, 0u);
}

TEST_F(SessionExchange, TheRealWaitIsTwoSeconds) {
  responder_.set_fault(fault::silence);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(snapshot::session_exchange(socket_), 1);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(seconds, 1.9);
  EXPECT_LT(seconds, 3.5);
}

TEST_F(SessionExchange, NoStatisticsHostNoRequest) {
  snapshot_test::map_stats_host(0);
  EXPECT_EQ(snapshot::session_exchange(socket_), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(responder_.requests(), 0);
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
