// Threads resolving names while installs replace the address table: every
// answer comes from a whole table, the old one or the new one, never from a
// table half rebuilt or emptied.  Run under TSan as well.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/spacing.h"
#include "redirect/host_entry.h"
#include "redirect/name_hook.h"
#include "redirect/name_key.h"
#include "redirect_fixture.h"

namespace {

using redirect_test::ip;

class AddressTableThreads : public redirect_test::redirect_fixture {};

// Many names, all with the same address in one answer: a reader that sees a
// mixture, or an empty table, has seen an install half done.
std::vector<uint8_t> payload_all_at(uint32_t address, int names) {
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> table;
  for (int i = 0; i < names; ++i) {
    const std::string name = "host" + std::to_string(i) + ".legacy.test";
    table.emplace_back(redirect::name_key(name.c_str()), std::vector<uint32_t>{address});
  }
  return service::payload_from_table(table).bytes();
}

TEST_F(AddressTableThreads, ReadersNeverSeeAPartlyInstalledTable) {
  constexpr int names = 60;
  platform::test::set_clock(1800000000);
  redirect::last_refresh_time = spacing::stamp(platform::monotonic_ms());  // no exchanges: installs come from the writer
  const std::vector<uint8_t> first = payload_all_at(ip(10, 0, 0, 1), names);
  const std::vector<uint8_t> second = payload_all_at(ip(10, 0, 0, 2), names);
  ASSERT_EQ(redirect_test::install_payload(first), 0);

  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, answers{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r)
    readers.emplace_back([&, r] {
      int i = r;
      while (!stop.load()) {
        const std::string name = "HOST" + std::to_string(i++ % names) + ".legacy.test";
        auto* h = static_cast<redirect::host_entry*>(redirect::name_hook(name.c_str()));
        uint32_t a = 0;
        if (h) std::memcpy(&a, h->addresses[0], 4);
        if (!h || (a != ip(10, 0, 0, 1) && a != ip(10, 0, 0, 2)) || name != h->name) ++bad;
        ++answers;
      }
      redirect_test::release_thread_answer_block();
    });
  std::thread writer([&] {
    for (int k = 0; k < 300; ++k) redirect_test::install_payload(k % 2 ? first : second);
    stop = true;
  });
  writer.join();
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(answers.load(), 0);
}

}  // namespace
