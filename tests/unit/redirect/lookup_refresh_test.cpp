// The lookup refresh against the reference lookup service on loopback: the
// exchange, its rate limits in both modes, the cache file it writes, the
// answers it must ignore (wrong sender, short, oversized, bad code, silence),
// its timing on the monotonic clock alone, and several service addresses.
// The service keys its table with the library's key routine: the tests look
// entries up by keys worked out with OpenSSL.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "redirect/lookup_cache.h"
#include "redirect/name_hook.h"
#include "redirect/name_key.h"
#include "redirect_fixture.h"
#include "service/lookup_service.h"

namespace {

using redirect_test::ip;
using fault = service::lookup_service::fault;

constexpr uint32_t start = 1800000000;
// Longer than one 64-byte block, in mixed case.
const std::string long_name = "Stats.Region-" + std::string(60, 'W') + ".Legacy.TEST";

// Waits for a condition another thread makes true; false if it never does.
bool eventually(const std::function<bool()>& holds) {
  for (int i = 0; i < 30000; ++i) {
    if (holds()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return holds();
}

class LookupRefresh : public redirect_test::redirect_fixture {
 protected:
  void SetUp() override {
    redirect_fixture::SetUp();
    platform::test::set_clock(start);
    ASSERT_TRUE(service_.start());
    platform::test::map_send_port(redirect::lookup_port, service_.port());
    service_.map_name("master.legacy.test", {ip(10, 0, 0, 1), ip(10, 0, 0, 2)});
    service_.map_name("stats.legacy.test", {ip(10, 0, 0, 3)});
    service_.map_name(long_name, {ip(10, 0, 0, 5)});
  }
  void TearDown() override {
    service_.stop();
    redirect_fixture::TearDown();
  }
  static uint32_t address_of(const std::string& name) {
    uint32_t a = 0;
    return redirect::first_address(redirect_test::openssl_name_key(name), &a) == 0 ? a : 0;
  }
  std::string cache_file() {
    return folder_.path() + "/Ostrel/network_0_" + core::process.host_image_tag;
  }

  service::lookup_service service_{deploy::lookup_chain, 0};
};

TEST_F(LookupRefresh, ExchangesThenWaitsOutTheInterval) {
  const struct {
    int mode;
    uint32_t interval;
    bool writes_cache;
  } modes[] = {{core::mode_client, 300, true}, {core::mode_server, 60, false}};
  for (const auto& m : modes) {
    SCOPED_TRACE(m.mode);
    core::process.operating_mode = m.mode;
    redirect::last_refresh_time = 0;
    redirect::address_table_allocate();
    std::filesystem::remove(cache_file());
    service_.reset_counts();
    platform::test::set_clock(start);

    EXPECT_EQ(redirect::lookup_refresh(), 0);
    EXPECT_EQ(service_.requests(), 1);
    EXPECT_EQ(address_of("master.legacy.test"), ip(10, 0, 0, 1));
    EXPECT_EQ(address_of("stats.legacy.test"), ip(10, 0, 0, 3));
    EXPECT_EQ(address_of(long_name), ip(10, 0, 0, 5));
    EXPECT_NE(redirect::last_refresh_time.load(), 0u);
    EXPECT_EQ(std::filesystem::exists(cache_file()), m.writes_cache);
    const auto seen = service_.received();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].time, start);
    EXPECT_EQ(seen[0].tag, 0x51816BACu);

    // The interval runs on the monotonic clock; the date may go anywhere.
    platform::test::set_clock(start + 86400);
    platform::test::advance_monotonic(m.interval * 1000 - 1000);
    EXPECT_EQ(redirect::lookup_refresh(), 1);
    EXPECT_EQ(service_.requests(), 1) << "within the interval nothing is sent";

    service_.map_name("stats.legacy.test", {ip(10, 0, 0, 4)});
    platform::test::set_clock(start - 3600);
    platform::test::advance_monotonic(1000);
    EXPECT_EQ(redirect::lookup_refresh(), 0);
    EXPECT_EQ(service_.requests(), 2);
    EXPECT_EQ(address_of("stats.legacy.test"), ip(10, 0, 0, 4));
    service_.map_name("stats.legacy.test", {ip(10, 0, 0, 3)});
  }
}

TEST_F(LookupRefresh, CacheFileHoldsTheExchangeAndLoadsAtStartUp) {
  ASSERT_EQ(redirect::lookup_refresh(), 0);
  std::ifstream in(cache_file(), std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::vector<uint8_t> answer = service_.last_answer();
  const auto seen = service_.received();
  ASSERT_EQ(seen.size(), 1u);
  ASSERT_EQ(file.size(), answer.size() + 16);
  EXPECT_EQ(std::memcmp(file.data(), "HTI1", 4), 0);
  EXPECT_EQ(std::memcmp(file.data() + 6, seen[0].id, 8), 0);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 22, file.end()),
            std::vector<uint8_t>(answer.begin() + 6, answer.end()));

  redirect::address_table_allocate();
  EXPECT_EQ(address_of("master.legacy.test"), 0u);
  EXPECT_EQ(redirect::load_cache(0, 43200), 0);
  EXPECT_EQ(address_of("master.legacy.test"), ip(10, 0, 0, 1));
}

TEST_F(LookupRefresh, IgnoresAnswersItMustNotTrustAndTimesOut) {
  // On a held clock that moves a quarter second per wait: the exchange sends
  // at 0, 1000 and 2000 ms and ends at its deadline, however slow the run.
  const fault faults[] = {fault::silence, fault::other_sender, fault::too_short,
                          fault::wrong_code, fault::oversized};
  platform::test::hold_monotonic();
  platform::test::set_wait_hook([] { platform::test::advance_monotonic(redirect::refresh_wait_ms); });
  for (fault f : faults) {
    SCOPED_TRACE(static_cast<int>(f));
    ASSERT_EQ(redirect_test::install_payload(
                  service::payload_from_table({{0x1234, {ip(10, 9, 9, 9)}}}).bytes()),
              0);
    redirect::last_refresh_time = 0;
    service_.reset_counts();
    service_.set_fault(f);
    const uint64_t began = platform::monotonic_ms();
    EXPECT_EQ(redirect::lookup_refresh(), 1);
    EXPECT_EQ(platform::monotonic_ms() - began, redirect::refresh_deadline_ms);
    EXPECT_TRUE(eventually([&] { return service_.requests() >= 3; }));
    EXPECT_EQ(service_.requests(), 3) << "the request is sent again each second";
    EXPECT_EQ(address_of("master.legacy.test"), 0u);
    uint32_t kept = 0;
    EXPECT_EQ(redirect::first_address(0x1234, &kept), 0) << "the table stays as it was";
    EXPECT_NE(redirect::last_refresh_time.load(), 0u) << "a failed exchange also waits";
  }
}

TEST_F(LookupRefresh, LateAndOverfullAnswers) {
  // An answer after the first resend still counts: the service holds the
  // first request until the library has sent it again, and the held clock
  // waits for the service's answer.
  std::atomic<bool> resent{false};
  service_.on_request([&](const service::lookup_request_seen&) {
    eventually([&] { return resent.load(); });
  });
  platform::test::hold_monotonic();
  const uint64_t began = platform::monotonic_ms();
  platform::test::set_wait_hook([&] {
    if (platform::monotonic_ms() - began >= redirect::refresh_resend_ms) resent = true;
    if (resent && service_.answers() == 0) return;
    platform::test::advance_monotonic(redirect::refresh_wait_ms);
  });
  EXPECT_EQ(redirect::lookup_refresh(), 0);
  EXPECT_TRUE(resent);
  EXPECT_EQ(address_of("master.legacy.test"), ip(10, 0, 0, 1));
  platform::test::set_wait_hook(nullptr);
  service_.on_request(nullptr);
  platform::test::use_running_monotonic();

  // More entries than the table holds: refused, the entries that fitted stay,
  // and the next valid answer starts over.
  service_.set_fault(fault::overfull);
  platform::test::advance_monotonic(300000);
  EXPECT_EQ(redirect::lookup_refresh(), 1);
  uint32_t a = 0;
  EXPECT_EQ(redirect::first_address(0x10000000, &a), 0);
  EXPECT_EQ(address_of("master.legacy.test"), 0u);
  service_.set_fault(fault::none);
  platform::test::advance_monotonic(300000);
  EXPECT_EQ(redirect::lookup_refresh(), 0);
  EXPECT_EQ(redirect::first_address(0x10000000, &a), 1);
  EXPECT_EQ(address_of("master.legacy.test"), ip(10, 0, 0, 1));
}

TEST_F(LookupRefresh, ThreadsAskingTogetherMakeOneExchange) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([] {
      redirect::name_hook("master.legacy.test");
      redirect_test::release_thread_answer_block();
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(service_.requests(), 1);
  EXPECT_EQ(address_of("master.legacy.test"), ip(10, 0, 0, 1));
}

TEST_F(LookupRefresh, TimedOnTheMonotonicClockWhateverTheDateDoes) {
  // The monotonic clock stands still but for 250 ms per wait, so the exchange
  // meets its deadline exactly on a wait's end; meanwhile the date is set
  // back an hour and forward a day (or the other way round).  A deadline on
  // the date would stretch the exchange by an hour or cut it at once; a send
  // at the deadline itself would make a fourth request.
  const struct {
    int32_t first_step, second_step;
  } cases[] = {{-3600, 86400}, {86400, -3600}};
  service_.set_fault(fault::silence);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first_step);
    redirect::last_refresh_time = 0;
    service_.reset_counts();
    platform::test::set_clock(start);
    platform::test::hold_monotonic();
    const uint64_t began = platform::monotonic_ms();
    int waits = 0;
    platform::test::set_wait_hook([&] {
      ++waits;
      if (waits == 1) platform::test::set_clock(start + static_cast<uint32_t>(c.first_step));
      if (waits == 3) platform::test::set_clock(start + static_cast<uint32_t>(c.second_step));
      platform::test::advance_monotonic(250);
    });
    EXPECT_EQ(redirect::lookup_refresh(), 1);
    platform::test::set_wait_hook(nullptr);
    EXPECT_EQ(platform::monotonic_ms() - began, 3000u);
    EXPECT_EQ(waits, 12);
    EXPECT_EQ(service_.requests(), 3) << "sends at 0, 1000 and 2000 ms, none at the deadline";
    const auto seen = service_.received();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].time, start) << "the request carries the date it was built at";
    platform::test::use_running_monotonic();
  }
}

// A plain socket on one loopback address that counts the requests it gets and
// can answer them from another port of the same address.
struct service_address {
  explicit service_address(uint32_t address, uint16_t port) : address(address) {
    s = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    bound = ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    socklen_t len = sizeof sa;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    this->port = ntohs(sa.sin_port);
  }
  ~service_address() { ::close(s); }
  // Reads what arrived; the last request and its sender are kept.
  void drain() {
    uint8_t buffer[2048];
    sockaddr_in from{};
    for (;;) {
      socklen_t len = sizeof from;
      const ssize_t n =
          ::recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) return;
      ++requests;
      service::decode_lookup_request(deploy::lookup_chain, buffer, static_cast<size_t>(n), last);
      client = from;
    }
  }
  // A valid answer to the last request, sent from a fresh port of this address.
  void answer(uint32_t key, uint32_t to_address) const {
    service::lookup_payload p;
    p.add_record(0x00, key, {}, {p.address_number(to_address)});
    const uint8_t nonce[8] = {3, 1, 4, 1, 5, 9, 2, 6};
    const std::vector<uint8_t> datagram = service::build_lookup_answer(
        deploy::lookup_chain, last.id, last.time, last.tag, nonce, p.bytes());
    service_address other(address, 0);
    ::sendto(other.s, datagram.data(), datagram.size(), 0,
             reinterpret_cast<const sockaddr*>(&client), sizeof client);
  }
  uint32_t address;
  int s = -1;
  bool bound = false;
  uint16_t port = 0;
  int requests = 0;
  service::lookup_request_seen last;
  sockaddr_in client{};
};

TEST_F(LookupRefresh, SendsToEveryResolvedAddressUpToSixteen) {
  // Twenty addresses resolve; the first sixteen are the service.  The one
  // just past the cap answers first and is not heard; the sixteenth answers
  // from another port of its address and is.
  std::vector<uint32_t> resolved;
  for (uint8_t k = 1; k <= 20; ++k) resolved.push_back(ip(127, 0, 0, k));
  std::vector<std::unique_ptr<service_address>> peers;
  peers.push_back(std::make_unique<service_address>(resolved[0], 0));
  const uint16_t port = peers[0]->port;
  for (size_t k = 1; k < 17; ++k)
    peers.push_back(std::make_unique<service_address>(resolved[k], port));
  for (const auto& p : peers) ASSERT_TRUE(p->bound);
  platform::test::set_resolved_addresses(resolved);
  platform::test::map_send_port(redirect::lookup_port, port);

  const uint32_t key = redirect::name_key("master.legacy.test");
  bool answered = false;
  platform::test::set_wait_hook([&] {
    if (answered) return;
    for (auto& p : peers) p->drain();
    if (peers[15]->requests == 0) return;
    answered = true;
    peers[16]->last = peers[15]->last;
    peers[16]->client = peers[15]->client;
    peers[16]->answer(key, ip(10, 0, 0, 17));
    peers[15]->answer(key, ip(10, 0, 0, 16));
  });
  EXPECT_EQ(redirect::lookup_refresh(), 0);
  platform::test::set_wait_hook(nullptr);
  EXPECT_EQ(address_of("master.legacy.test"), ip(10, 0, 0, 16));
  for (size_t k = 0; k < 16; ++k) EXPECT_EQ(peers[k]->requests, 1) << "address " << k + 1;
  peers[16]->drain();
  EXPECT_EQ(peers[16]->requests, 0) << "the seventeenth address is not asked";
  EXPECT_EQ(service_.requests(), 0);
}

TEST_F(LookupRefresh, NoTableWritesNoCacheFile) {
  // After unload (or a failed allocation) a valid answer installs nothing:
  // the refresh reports failure and keeps the last good cache file.
  // The held clock reaches the deadline only once the service has answered.
  redirect::address_table_release();
  platform::test::hold_monotonic();
  platform::test::set_wait_hook([&] {
    if (service_.answers() > 0) platform::test::advance_monotonic(redirect::refresh_wait_ms);
  });
  EXPECT_EQ(redirect::lookup_refresh(), 1);
  EXPECT_FALSE(std::filesystem::exists(cache_file()));
}

}  // namespace
