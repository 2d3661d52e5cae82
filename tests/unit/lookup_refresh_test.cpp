// The lookup refresh against the reference lookup service on loopback: the
// exchange, its rate limits in both modes, the cache file it writes, and the
// answers it must ignore (wrong sender, short, oversized, bad code, silence).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
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

class LookupRefresh : public redirect_test::redirect_fixture {
 protected:
  void SetUp() override {
    redirect_fixture::SetUp();
    platform::test::set_clock(start);
    ASSERT_TRUE(service_.start());
    redirect::lookup_service_port = service_.port();
    service_.map_name("master.legacy.test", {ip(10, 0, 0, 1), ip(10, 0, 0, 2)});
    service_.map_name("stats.legacy.test", {ip(10, 0, 0, 3)});
  }
  void TearDown() override {
    service_.stop();
    redirect_fixture::TearDown();
  }
  static uint32_t address_of(const char* name) {
    uint32_t a = 0;
    return redirect::first_address(redirect::name_key(name), &a) == 0 ? a : 0;
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
    EXPECT_EQ(redirect::last_refresh_time.load(), start);
    EXPECT_EQ(std::filesystem::exists(cache_file()), m.writes_cache);
    const auto seen = service_.received();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].time, start);
    EXPECT_EQ(seen[0].tag, 0x51816BACu);

    platform::test::set_clock(start + m.interval - 1);
    EXPECT_EQ(redirect::lookup_refresh(), 1);
    EXPECT_EQ(service_.requests(), 1) << "within the interval nothing is sent";

    service_.map_name("stats.legacy.test", {ip(10, 0, 0, 4)});
    platform::test::set_clock(start + m.interval);
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
  const fault faults[] = {fault::silence, fault::other_sender, fault::too_short,
                          fault::wrong_code, fault::oversized};
  for (fault f : faults) {
    SCOPED_TRACE(static_cast<int>(f));
    ASSERT_EQ(redirect_test::install_payload(
                  service::payload_from_table({{0x1234, {ip(10, 9, 9, 9)}}}).bytes()),
              0);
    redirect::last_refresh_time = 0;
    service_.reset_counts();
    service_.set_fault(f);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(redirect::lookup_refresh(), 1);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(seconds, 2.9);
    EXPECT_LT(seconds, 6.0) << "the exchange ends at its deadline";
    EXPECT_GE(service_.requests(), 2) << "the request is sent again each second";
    EXPECT_LE(service_.requests(), 3);
    EXPECT_EQ(address_of("master.legacy.test"), 0u);
    uint32_t kept = 0;
    EXPECT_EQ(redirect::first_address(0x1234, &kept), 0) << "the table stays as it was";
    EXPECT_EQ(redirect::last_refresh_time.load(), start) << "a failed exchange also waits";
  }
}

TEST_F(LookupRefresh, LateAndOverfullAnswers) {
  // An answer after the first resend still counts.
  service_.set_delay_ms(1300);
  EXPECT_EQ(redirect::lookup_refresh(), 0);
  EXPECT_EQ(address_of("master.legacy.test"), ip(10, 0, 0, 1));

  // More entries than the table holds: refused, the entries that fitted stay,
  // and the next valid answer starts over.
  service_.set_delay_ms(0);
  service_.set_fault(fault::overfull);
  platform::test::advance_clock(300);
  EXPECT_EQ(redirect::lookup_refresh(), 1);
  uint32_t a = 0;
  EXPECT_EQ(redirect::first_address(0x10000000, &a), 0);
  EXPECT_EQ(address_of("master.legacy.test"), 0u);
  service_.set_fault(fault::none);
  platform::test::advance_clock(300);
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

}  // namespace
