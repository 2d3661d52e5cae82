// Threads meeting on the ranked list and the player login table: lookups
// (which take no lock) while installs replace the list see the old list or
// the new one whole; two
// refreshes at once keep their fragments apart; login reads while captures
// rewrite the same record see one whole record.  Run under TSan as well.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/bytes.h"
#include "platform/native/test_controls.h"
#include "ranked/ranked_refresh.h"
#include "ranked/ranked_store.h"
#include "ranked_fixture.h"
#include "redirect_fixture.h"
#include "service/master_server.h"
#include "sockets/player_logins.h"

namespace {

using redirect_test::ip;
using bytes_t = std::vector<uint8_t>;

// 200 servers every list holds, and `count` (300 by default) of the list's own.
bytes_t list_blob(uint8_t own, int count = 300) {
  bytes_t body = ranked_test::body_head(29900);
  for (int i = 0; i < 200; ++i) {
    const uint8_t a[4] = {10, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    ranked_test::add_record(body, 0x81, a);
  }
  for (int i = 0; i < count; ++i) {
    const uint8_t a[4] = {10, own, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    ranked_test::add_record(body, 0x81, a);
  }
  return ranked_test::seal(body, ranked_test::nonce_of(own));
}

class RankedThreads : public redirect_test::redirect_fixture {
 protected:
  void SetUp() override {
    redirect_fixture::SetUp();
    ASSERT_EQ(ranked::arena_allocate(), 0);
    ranked::ranked_reset();
  }
  void TearDown() override {
    platform::test::clear_test_points();
    ranked::ranked_reset();
    ranked::last_success_ms = 0;
    redirect_fixture::TearDown();
  }
};

// Lookups take no lock: a table is rebuilt only when no reader can hold it.
// Thousands of installs of two lists of different sizes race four readers; a
// reader that met a table being rebuilt would miss a server both lists hold
// (the sorted order is broken half way), find one neither holds, or count a
// size neither list has.
TEST_F(RankedThreads, LookupsSeeTheOldListOrTheNewNeverAMix) {
  const bytes_t lists[2] = {list_blob(1, 300), list_blob(2, 40)};
  ASSERT_EQ(ranked::install_ranked_blob(lists[0].data(), lists[0].size()), 0);
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0}, lookups{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r)
    readers.emplace_back([&, r] {
      for (int i = r; !stop.load(); ++i) {
        const uint8_t both[4] = {10, 0, 0, static_cast<uint8_t>(i % 200)};
        const uint8_t neither[4] = {10, 3, 0, static_cast<uint8_t>(i % 200)};
        uint32_t hit, miss;
        std::memcpy(&hit, both, 4);
        std::memcpy(&miss, neither, 4);
        if (!ranked::ranked_lookup(hit, bytes::to_network_u16(29900))) ++wrong;
        if (ranked::ranked_lookup(miss, bytes::to_network_u16(29900))) ++wrong;
        const size_t n = ranked::ranked_count();
        if (n != 500 && n != 240) ++wrong;
        uint8_t entry[ranked::ranked_entry_size];
        if (!ranked::ranked_entry(static_cast<size_t>(i) % 240, entry) || entry[0] != 10) ++wrong;
        ++lookups;
      }
    });
  for (int round = 0; round < 3000 || (lookups.load() < 20000 && round < 1000000); ++round)
    ASSERT_EQ(ranked::install_ranked_blob(lists[round % 2].data(), lists[round % 2].size()), 0);
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_GT(lookups.load(), 0);
  EXPECT_EQ(wrong.load(), 0);
}

// A reader held in the middle of a lookup (the table in hand, its count
// raised, the search not begun) while two installs replace the list: the
// second install must build elsewhere than in the held table, and the reader
// answers from the list it started with.  Without the reader count the held
// table is the first free one and is rebuilt under the reader.
TEST_F(RankedThreads, ReaderHeldAcrossTwoInstallsAnswersFromItsList) {
  const bytes_t first = list_blob(1, 300), second = list_blob(2, 40), third = list_blob(3, 40);
  ASSERT_EQ(ranked::install_ranked_blob(first.data(), first.size()), 0);
  std::mutex m;
  std::condition_variable cv;
  bool holding = false, go_on = false;
  platform::test::set_test_point("ranked_lookup_holding", [&] {
    std::unique_lock<std::mutex> lock(m);
    holding = true;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::seconds(20), [&] { return go_on; });
  });
  const uint8_t own[4] = {10, 1, 0, 7};  // on the first list only
  uint32_t address;
  std::memcpy(&address, own, 4);
  bool found = false;
  std::thread reader([&] { found = ranked::ranked_lookup(address, bytes::to_network_u16(29900)); });
  {
    std::unique_lock<std::mutex> lock(m);
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return holding; }));
  }
  platform::test::set_test_point("ranked_lookup_holding", nullptr);
  EXPECT_EQ(ranked::install_ranked_blob(second.data(), second.size()), 0);
  EXPECT_EQ(ranked::install_ranked_blob(third.data(), third.size()), 0);
  {
    std::lock_guard<std::mutex> lock(m);
    go_on = true;
  }
  cv.notify_all();
  reader.join();
  EXPECT_TRUE(found) << "the held lookup answered from a list it did not start with";
  EXPECT_FALSE(ranked::ranked_lookup(address, bytes::to_network_u16(29900)));
  EXPECT_EQ(ranked::ranked_count(), 240u);
}

TEST_F(RankedThreads, TwoRefreshesAtOnceKeepTheirFragmentsApart) {
  const service::ranked_keys keys = ranked_test::dll_keys();
  service::master_server masters[2] = {service::master_server(keys, 0),
                                       service::master_server(keys, 0)};
  for (int m = 0; m < 2; ++m) {
    std::vector<service::ranked_server> servers;
    for (uint8_t i = 1; i <= 60; ++i)
      servers.push_back({ip(10, static_cast<uint8_t>(m + 1), 0, i), 29900, 1});
    masters[m].set_servers(servers, 29900);
    masters[m].set_fragment_size(40);  // the same offsets in both transfers
    ASSERT_TRUE(masters[m].start());
  }
  for (int round = 0; round < 5; ++round) {
    ranked::last_success_ms = 0;
    int results[2] = {-1, -1};
    std::thread a([&] { results[0] = ranked::refresh_ranked_list(ip(127, 0, 0, 1), masters[0].port()); });
    std::thread b([&] { results[1] = ranked::refresh_ranked_list(ip(127, 0, 0, 1), masters[1].port()); });
    a.join();
    b.join();
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(ranked::ranked_count(), 60u);
  }
  redirect_test::release_thread_answer_block();
}

TEST_F(RankedThreads, LoginReadsSeeAWholeRecord) {
  ASSERT_EQ(sockets::player_logins_allocate(), 0);
  sockets::player_logins_clear();
  const std::string names[2] = {std::string(30, 'A'), std::string(30, 'B')};
  const uint8_t proof[24] = {};
  auto store = [&](int i) {
    sockets::store_login(3, 0x0100007F, 77, reinterpret_cast<const uint8_t*>(names[i % 2].data()),
                         30, proof, sizeof proof);
  };
  store(0);
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0}, found{0};
  std::thread reader([&] {
    while (!stop.load()) {
      uint8_t name[30], p[24];
      size_t nl = sizeof name, pl = sizeof p;
      if (sockets::login_record_read(77, 0x0100007F, 3, name, p, &nl, &pl) != 0) continue;
      ++found;
      const std::string got(reinterpret_cast<char*>(name), nl);
      if (got != names[0] && got != names[1]) ++torn;
    }
  });
  // Rewrites go on until the reader has read a good many times.
  for (int i = 1; found.load() < 2000 && i < 50000000; ++i) store(i);
  stop = true;
  reader.join();
  EXPECT_GT(found.load(), 0);
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
