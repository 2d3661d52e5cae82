// The ranked list refresh against the reference master server on loopback:
// fragments in any order, acknowledgements, the size limit and its log line,
// every way a refresh fails, the pause after a success, and the trigger on a
// server-list connection.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "core/log.h"
#include "ranked/ranked_file.h"
#include "ranked/ranked_refresh.h"
#include "ranked/ranked_store.h"
#include "ranked/refresh_protocol.h"
#include "redirect/name_key.h"
#include "ranked_fixture.h"
#include "redirect_fixture.h"
#include "service/master_server.h"

namespace {

using redirect_test::ip;
using fault = service::master_server::fault;
using kind = service::master_datagram::kind;

constexpr uint32_t start = 1800000000;

class RankedRefresh : public redirect_test::redirect_fixture {
 protected:
  void SetUp() override {
    redirect_fixture::SetUp();
    platform::test::set_clock(start);
    redirect::last_refresh_time = start;  // no lookup exchange from the name hook
    core::log_reset();
    std::filesystem::create_directories("logs/ostrel");
    ASSERT_EQ(ranked::arena_allocate(), 0);
    ranked::ranked_reset();
    ranked::last_success_ms = 0;
    ASSERT_TRUE(master_.start());
    ranked::master_port = master_.port();
    master_.set_servers(servers_, 29900);
  }
  void TearDown() override {
    master_.stop();
    ranked::ranked_reset();
    ranked::last_success_ms = 0;
    ranked::master_port = ranked::master_server_port;
    ranked::server_browser_mode = 0;
    redirect_fixture::TearDown();
  }
  int refresh() { return ranked::refresh_ranked_list(ip(127, 0, 0, 1), master_.port()); }
  // A refresh on a held monotonic clock: the 1000 ms resend spacing never
  // comes, so only the fragment count sends acknowledgements, however slow
  // the machine.  A refresh stuck for many waits is pushed past its deadline.
  int refresh_on_held_clock() {
    platform::test::hold_monotonic();
    int waits = 0;
    platform::test::set_wait_hook([&waits] {
      if (++waits == 400) platform::test::advance_monotonic(ranked::refresh_deadline_ms + 1);
    });
    const int result = refresh();
    platform::test::set_wait_hook(nullptr);
    platform::test::use_running_monotonic();
    EXPECT_LT(waits, 400) << "stuck until the deadline";
    return result;
  }
  // The acknowledgements once the master has read n of them.  Loopback keeps
  // their order and the one that completes the list is sent last, so an
  // extra acknowledgement shows as a wrong mask or a longer list.
  std::vector<uint32_t> ack_masks(size_t n) const {
    EXPECT_TRUE(master_.wait_for(kind::acknowledgement, static_cast<int>(n), 30000));
    std::vector<uint32_t> out;
    for (const auto& d : master_.received())
      if (d.what == kind::acknowledgement) out.push_back(d.mask);
    return out;
  }
  std::string file_path() const { return folder_.path() + "/Ostrel/rankedservers"; }
  std::vector<uint8_t> file() const {
    std::ifstream in(file_path(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::string log_text() const {
    std::string all;
    for (const auto& e : std::filesystem::directory_iterator(folder_.path() + "/logs/ostrel")) {
      std::ifstream in(e.path());
      all += std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return all;
  }

  const std::vector<service::ranked_server> servers_ = {
      {ip(127, 0, 0, 1), 29900, 1}, {ip(127, 0, 0, 1), 16567, 1}, {ip(10, 0, 0, 7), 4711, 2}};
  service::master_server master_{ranked_test::dll_keys(), 0};
};

TEST_F(RankedRefresh, FragmentsInAnyOrderMakeTheListAndItsFile) {
  master_.set_fragment_size(21);  // a 63-byte blob in three fragments
  master_.set_fragment_order({2, 0, 1});
  ASSERT_EQ(refresh_on_held_clock(), 0);
  ASSERT_EQ(master_.last_blob().size(), 63u);
  EXPECT_EQ(ranked::ranked_count(), 3u);
  EXPECT_TRUE(ranked::ranked_lookup(ip(127, 0, 0, 1), bytes::to_network_u16(16567)));
  EXPECT_EQ(ack_masks(1), std::vector<uint32_t>{7u})
      << "one acknowledgement, carrying all three, once the last fragment is in";

  const auto seen = master_.received();
  EXPECT_EQ(seen[0].what, kind::availability);
  EXPECT_EQ(seen[0].data, std::vector<uint8_t>(std::begin(ranked::availability_query),
                                               std::end(ranked::availability_query)));
  auto request = std::find_if(seen.begin(), seen.end(),
                              [](const auto& d) { return d.what == kind::list_request; });
  ASSERT_NE(request, seen.end());
  EXPECT_TRUE(request->digest_ok);
  ASSERT_EQ(request->data.size(), 35u);
  EXPECT_EQ(request->session & 1u, 1u) << "session ids are odd";
  EXPECT_EQ(request->data[8], 3);
  EXPECT_EQ(bytes::load_u16le(request->data.data() + 9), 3);
  EXPECT_EQ(bytes::load_u32le(request->data.data() + 11), start);
  EXPECT_EQ(bytes::load_u32le(request->data.data() + 15), 0x40000101u);
  EXPECT_EQ(seen.back().session, request->session);

  const std::vector<uint8_t> blob = master_.last_blob();
  std::vector<uint8_t> expected = {'H', 'R', 'C', '1', static_cast<uint8_t>(blob.size()), 0, 0, 0};
  expected.insert(expected.end(), blob.begin(), blob.end());
  EXPECT_EQ(file(), expected) << "the file holds the blob as received";
}

TEST_F(RankedRefresh, AcknowledgesEveryFifthFragmentAndSurvivesLossAndDuplicates) {
  std::vector<service::ranked_server> many;
  for (uint8_t i = 1; i <= 30; ++i) many.push_back({ip(10, 0, 1, i), 29900, 1});
  master_.set_servers(many, 29900);
  master_.set_fragment_size(16);  // 194 bytes: 13 fragments
  ASSERT_EQ(refresh_on_held_clock(), 0);
  std::vector<int> bits;
  for (uint32_t m : ack_masks(3)) bits.push_back(std::popcount(m));
  EXPECT_EQ(bits, (std::vector<int>{5, 10, 13}));
  EXPECT_EQ(ranked::ranked_count(), 30u);

  for (fault f : {fault::lose_one, fault::duplicated}) {
    SCOPED_TRACE(static_cast<int>(f));
    ranked::last_success_ms = 0;
    ranked::ranked_reset();
    master_.set_fault(f);
    EXPECT_EQ(refresh(), 0);
    EXPECT_EQ(ranked::ranked_count(), 30u);
  }
}

TEST_F(RankedRefresh, FragmentEndingAt64000IsTakenOneByteMoreFailsWithTheLogLine) {
  master_.set_stray_fragment_end(64000);
  EXPECT_EQ(refresh(), 0);
  EXPECT_EQ(ranked::ranked_count(), 3u);

  ranked::last_success_ms = 0;
  ranked::ranked_reset();
  master_.set_stray_fragment_end(64001);
  EXPECT_EQ(refresh(), 1);
  EXPECT_EQ(ranked::ranked_count(), 0u);
  EXPECT_NE(log_text().find("HRQ1: buffer too small: 63991 22 12 64000\r\n"), std::string::npos)
      << log_text();
}

TEST_F(RankedRefresh, FailuresKeepTableAndFile) {
  ASSERT_EQ(refresh(), 0);
  const std::vector<uint8_t> good_file = file();
  const struct {
    fault f;
    bool waits_out_the_deadline;
  } cases[] = {{fault::error_reply, false}, {fault::zero_challenge, false},
               {fault::tampered_blob, false}, {fault::other_session, true},
               {fault::silence, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.f));
    ranked::last_success_ms = 0;
    master_.reset();
    master_.set_servers({{ip(10, 9, 9, 9), 1, 1}}, 29900);
    master_.set_fault(c.f);
    // On a held clock: the cases that end early do so with the clock where
    // it stood; the others see it move a quarter second per wait until the
    // deadline ends them.
    platform::test::hold_monotonic();
    const uint64_t began = platform::monotonic_ms();
    int waits = 0;
    platform::test::set_wait_hook([&] {
      ++waits;
      if (c.waits_out_the_deadline || waits >= 400)
        platform::test::advance_monotonic(ranked::refresh_wait_step_ms);
    });
    EXPECT_EQ(refresh(), 1);
    platform::test::set_wait_hook(nullptr);
    const uint64_t elapsed = platform::monotonic_ms() - began;
    platform::test::use_running_monotonic();
    if (c.waits_out_the_deadline) {
      EXPECT_GT(elapsed, ranked::refresh_deadline_ms);
      EXPECT_LE(elapsed, ranked::refresh_deadline_ms + ranked::refresh_wait_ms);
    } else {
      EXPECT_EQ(elapsed, 0u) << "ended before the deadline";
    }
    EXPECT_EQ(ranked::ranked_count(), 3u) << "the previous list stays";
    EXPECT_FALSE(ranked::ranked_lookup(ip(10, 9, 9, 9), bytes::to_network_u16(1)));
    EXPECT_EQ(file(), good_file);
  }
  // Without an answer the availability query goes out once a second, from
  // the start up to the deadline itself: six times.
  EXPECT_TRUE(master_.wait_for(kind::availability, 6, 30000));
  EXPECT_EQ(master_.count(kind::availability), 6);
}

TEST_F(RankedRefresh, PausesSixtySecondsAfterASuccessOnly) {
  master_.set_fault(fault::error_reply);
  EXPECT_EQ(refresh(), 1);
  master_.reset();
  master_.set_servers(servers_, 29900);
  EXPECT_EQ(refresh(), 0) << "a failure starts no pause";
  master_.reset();
  platform::test::advance_monotonic(30000);
  EXPECT_EQ(refresh(), 0);
  EXPECT_TRUE(master_.received().empty()) << "30 s after a success: no traffic";
  platform::test::advance_monotonic(30000);
  EXPECT_EQ(refresh(), 0);
  EXPECT_EQ(master_.count(kind::list_request), 1);
}

TEST_F(RankedRefresh, ServerListConnectionTriggersItWhenBrowserModeIsOne) {
  auto destination = [](uint16_t port, uint32_t address) {
    std::vector<uint8_t> sa(16, 0);
    sa[0] = 2;
    bytes::store_u16be(sa.data() + 2, port);
    std::memcpy(sa.data() + 4, &address, 4);
    return sa;
  };
  using platform::registry_root;
  // serverBrowserMode not 1: the connection goes ahead with no refresh.
  platform::test::registry_set_dword(registry_root::current_user, "serverBrowserMode", 2);
  ranked::ranked_list_on_connect(destination(28910, ip(127, 0, 0, 1)).data());
  EXPECT_TRUE(master_.received().empty());
  EXPECT_EQ(ranked::server_browser_mode.load(), 2u);

  // The master host name unresolved: 28910 falls back to the connection's
  // host, 29900 does nothing.
  platform::test::registry_set_dword(registry_root::current_user, "serverBrowserMode", 1);
  ranked::ranked_list_on_connect(destination(29900, ip(127, 0, 0, 1)).data());
  EXPECT_TRUE(master_.received().empty());
  ranked::ranked_list_on_connect(destination(28910, ip(127, 0, 0, 1)).data());
  EXPECT_EQ(master_.count(kind::list_request), 1);
  EXPECT_EQ(ranked::ranked_count(), 3u);

  // Resolved through the address table, the master host name wins.
  ranked::last_success_ms = 0;
  master_.reset();
  master_.set_servers(servers_, 29900);
  ASSERT_EQ(redirect_test::install_payload(
                service::payload_from_table({{redirect::name_key(deploy::master_host),
                                              {ip(127, 0, 0, 1)}}})
                    .bytes()),
            0);
  ranked::ranked_list_on_connect(destination(29900, ip(10, 1, 1, 1)).data());
  EXPECT_EQ(master_.count(kind::list_request), 1);

  // A missing value reads as 0.
  platform::test::registry_delete(registry_root::current_user, "serverBrowserMode");
  EXPECT_EQ(ranked::read_browser_mode(), 0u);
}

}  // namespace
