// Query traffic interception in both modes, with fake real send and receive
// functions: the query socket, the answer scans over a table of answers, the
// server list move and its conditions, and the dedicated server's copies to
// the forward addresses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/launcher.h"
#include "core/process_state.h"
#include "interception_fixture.h"
#include "platform/native/test_controls.h"
#include "ranked/ranked_refresh.h"
#include "ranked/ranked_store.h"
#include "ranked_fixture.h"
#include "redirect/redirection_table.h"
#include "redirect_fixture.h"
#include "sockets/receive_filters.h"
#include "sockets/send_step.h"
#include "sockets/traffic_state.h"

namespace {

using namespace interception_test;
using redirect_test::ip;
using bytes_t = std::vector<uint8_t>;

constexpr uint16_t listed_port = 5000;
constexpr uint16_t unlisted_port = 5001;

bytes_t texts(std::initializer_list<const char*> list, bool last_terminated = true) {
  bytes_t out;
  size_t i = 0;
  for (const char* t : list) {
    out.insert(out.end(), t, t + std::strlen(t));
    if (++i < list.size() || last_terminated) out.push_back(0);
  }
  return out;
}
bytes_t plain_answer(const bytes_t& body) {
  bytes_t out = {0x00, 0x11, 0x22, 0x33, 0x44};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}
bytes_t split_answer(uint8_t part, const bytes_t& body) {
  bytes_t out = {0x00, 0x11, 0x22, 0x33, 0x44};
  const char marker[] = "splitnum";
  out.insert(out.end(), marker, marker + sizeof marker);
  out.push_back(part);
  out.push_back(0x80);  // byte 15: part number
  out.resize(16);
  out[15] = part;
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

class Interception : public redirect_test::redirect_fixture {
 protected:
  void SetUp() override {
    redirect_fixture::SetUp();
    sockets::traffic_state_reset();
    platform::test::set_real_sendto(fake_sendto);
    platform::test::set_real_recvfrom(fake_recvfrom);
    sends.clear();
    ASSERT_EQ(ranked::arena_allocate(), 0);
    ranked::server_browser_mode = 1;
    // No refresh runs: the last success is now, and so is the last lookup exchange.
    ranked::last_success_ms = platform::monotonic_ms();
    platform::test::set_clock(1800000000);
    redirect::last_refresh_time = 1800000000;
    install_list();
  }
  void TearDown() override {
    platform::test::set_real_sendto(nullptr);
    platform::test::set_real_recvfrom(nullptr);
    sockets::traffic_state_reset();
    ranked::ranked_reset();
    ranked::server_browser_mode = 0;
    ranked::last_success_ms = 0;
    redirect_fixture::TearDown();
  }
  static void install_list() {
    bytes_t body = ranked_test::body_head(1);
    const uint8_t loopback[4] = {127, 0, 0, 1};
    ranked_test::add_record(body, 0x01, loopback, listed_port);
    const bytes_t blob = ranked_test::seal(body, ranked_test::nonce_of(9));
    ASSERT_EQ(ranked::install_ranked_blob(blob.data(), blob.size()), 0);
  }
  // The datagram as the game receives it through the client receive filter.
  static bytes_t received(const bytes_t& datagram, uint16_t from_port) {
    next_datagram = datagram;
    next_from = socket_address(ip(127, 0, 0, 1), from_port);
    bytes_t buffer(2000, 0xEE);
    bytes_t from(16, 0);
    int from_length = 16;
    const int r = sockets::client_receive_filter(7, reinterpret_cast<char*>(buffer.data()),
                                                 static_cast<int>(buffer.size()), 0, from.data(),
                                                 &from_length);
    EXPECT_EQ(r, static_cast<int>(datagram.size())) << "the real call's result";
    buffer.resize(static_cast<size_t>(r < 0 ? 0 : r));
    return buffer;
  }
  static int send_from(uintptr_t s, const bytes_t& data, uint16_t port) {
    const bytes_t to = socket_address(ip(127, 0, 0, 1), port);
    return sockets::intercept_sendto(s, reinterpret_cast<const char*>(data.data()),
                                     static_cast<int>(data.size()), 0, to.data(), 16);
  }
};

TEST_F(Interception, ClientQuerySocketComesFromQueriesAndGoesWithClose) {
  const struct {
    const char* name;
    bytes_t packet;
    int verdict;
    bool noted;
  } cases[] = {
      {"7-byte query", {0xFE, 0xFD, 0x00, 1, 2, 3, 4}, 1, true},
      {"type 0x09", {0xFE, 0xFD, 0x09, 1, 2, 3, 4}, 1, true},
      {"6 bytes", {0xFE, 0xFD, 0x00, 1, 2, 3}, 1, false},
      {"type 0x01", {0xFE, 0xFD, 0x01, 1, 2, 3, 4}, 1, false},
      {"launcher verdict 0", {0xFE, 0xFD, 0x00, 1, 2, 3, 4}, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sockets::traffic_state_reset();
    sends.clear();
    core::launcher_verdict = c.verdict;
    EXPECT_EQ(send_from(42, c.packet, 29900), static_cast<int>(c.packet.size()));
    EXPECT_EQ(sockets::query_socket.load(), c.noted ? 42u : platform::invalid_socket);
    ASSERT_EQ(sends.size(), 1u) << "forwarded unchanged";
    EXPECT_EQ(sends[0].data, c.packet);
  }
  core::launcher_verdict = 1;
  send_from(42, cases[0].packet, 29900);
  sockets::socket_closing(43);
  EXPECT_EQ(sockets::query_socket.load(), 42u) << "another socket's close changes nothing";
  const bytes_t answer = plain_answer(texts({"k1", "v1", "k2", "v2", "k3", "v3", "k4", "v4", "k5",
                                             "v5", "k6", "v6", "bf2_ranked", "1"}));
  EXPECT_EQ(received(answer, unlisted_port)[answer.size() - 2], '0');
  sockets::socket_closing(42);
  EXPECT_EQ(sockets::query_socket.load(), platform::invalid_socket);
  EXPECT_EQ(received(answer, unlisted_port), answer) << "no query socket: no correction";
}

TEST_F(Interception, AnswerScansOverATableOfAnswers) {
  sockets::query_socket = 42;
  const bytes_t six = texts({"hostname", "srv", "gamename", "bf2", "gamever", "1", "mapname",
                             "city", "gametype", "conquest", "gamevariant", "1"});
  auto with_seventh = [&](const bytes_t& rest) {
    bytes_t b = six;
    b.insert(b.end(), rest.begin(), rest.end());
    return plain_answer(b);
  };
  const bytes_t plain = with_seventh(texts({"bf2_ranked", "1", "numplayers", "1"}));
  bytes_t plain_fixed = plain;
  plain_fixed[plain.size() - 15] = '0';  // the seventh value only
  const bytes_t plain_end = with_seventh(texts({"bf2_ranked", "1"}, false));
  const bytes_t split = split_answer(0, texts({"hostname", "1", "bf2_ranked", "1", "bf2_ranked",
                                               "1", "password", "1"}));
  bytes_t split_fixed = split;
  split_fixed[16 + 9 + 2 + 11] = '0';
  const bytes_t split_end = split_answer(0, texts({"hostname", "x", "bf2_ranked", "1"}, false));
  bytes_t not_first = split_fixed;
  not_first[15] = 1;
  not_first[16 + 9 + 2 + 11] = '1';
  // The split scan looks at one byte in thirteen: copies of the pair that are
  // values, near copies, a copy at the texts' start that ends one byte short
  // of the datagram's end (the last sample), and long texts of "b".
  const bytes_t values_first = split_answer(0, texts({"k", "bf2_ranked", "1", "x", "bf2_ranked", "1"}));
  bytes_t values_first_fixed = values_first;
  values_first_fixed[values_first.size() - 2] = '0';
  const std::string bs(40, 'b');
  const bytes_t near_copies = split_answer(
      0, texts({bs.c_str(), "bf2_ranked0", "bf2_rankeX", "1", "bf2_ranked", "1", bs.c_str(), "1"}));
  bytes_t near_copies_fixed = near_copies;
  near_copies_fixed[near_copies.size() - 2 - (bs.size() + 1) - 2] = '0';
  const bytes_t at_start = split_answer(0, texts({"bf2_ranked", "1", "x"}, false));
  bytes_t at_start_fixed = at_start;
  at_start_fixed[16 + 11] = '0';
  // A key that ends in "bf2_ranked" holds the pair's bytes, not at a text's
  // start: another key, whose value stays.
  const bytes_t longer_key = split_answer(0, texts({"xbf2_ranked", "1", "bf2_ranked", "1"}));
  bytes_t longer_key_fixed = longer_key;
  longer_key_fixed[longer_key.size() - 2] = '0';
  // A long host name puts the seventh value far from the start: past the
  // blocks the NUL search passes over four at a time.
  const std::string long_name(150, 'h');
  const bytes_t plain_far = plain_answer(texts({"hostname", long_name.c_str(), "gamename", "bf2",
                                                "gamever", "1", "mapname", "city", "gametype", "cq",
                                                "gamevariant", "1", "bf2_ranked", "1", "x", "1"}));
  bytes_t plain_far_fixed = plain_far;
  plain_far_fixed[plain_far.size() - 6] = '0';
  bytes_t short_answer = plain_answer(texts({"a", "b", "c", "d", "e", "f", "g", "1"}));
  short_answer.resize(29);
  bytes_t not_answer = plain;
  not_answer[0] = 0x01;

  const struct {
    const char* name;
    bytes_t in;
    uint16_t from;
    bytes_t out;
  } cases[] = {
      {"plain, unlisted", plain, unlisted_port, plain_fixed},
      {"plain, listed", plain, listed_port, plain},
      {"plain, 1 at the datagram's end", plain_end, unlisted_port, plain_end},
      {"plain, the seventh value past 128 bytes", plain_far, unlisted_port, plain_far_fixed},
      {"split, unlisted: the first bf2_ranked only", split, unlisted_port, split_fixed},
      {"split, listed", split, listed_port, split},
      {"split, byte 15 not 0", not_first, unlisted_port, not_first},
      {"split, 1 at the datagram's end", split_end, unlisted_port, split_end},
      {"split, copies as values before the key", values_first, unlisted_port, values_first_fixed},
      {"split, near copies and texts of b", near_copies, unlisted_port, near_copies_fixed},
      {"split, 30 bytes, the pair at the texts' start", at_start, unlisted_port, at_start_fixed},
      {"split, a longer key ending in bf2_ranked", longer_key, unlisted_port, longer_key_fixed},
      {"29 bytes", short_answer, unlisted_port, short_answer},
      {"first byte not 0", not_answer, unlisted_port, not_answer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(received(c.in, c.from), c.out);
  }

  ranked::ranked_reset();
  EXPECT_EQ(received(plain, listed_port), plain_fixed) << "an empty list ranks nobody";
  ranked::server_browser_mode = 0;
  EXPECT_EQ(received(plain, unlisted_port), plain) << "serverBrowserMode not 1";
}

TEST_F(Interception, ServerListConnectionMovesTo28911) {
  const struct {
    const char* name;
    uint16_t port;
    int verdict;
    uint32_t browser_mode;
    uint16_t family;
    uint16_t reached;
  } cases[] = {
      {"28910 moved", 28910, 1, 1, 2, 28911},
      {"29900 stays", 29900, 1, 1, 2, 29900},
      {"launcher verdict 0", 28910, 0, 1, 2, 28910},
      {"serverBrowserMode 0", 28910, 1, 0, 2, 28910},
      {"not the Internet family", 28910, 1, 1, 23, 28910},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    core::launcher_verdict = c.verdict;
    platform::test::registry_set_dword(platform::registry_root::current_user, "serverBrowserMode",
                                       c.browser_mode);
    bytes_t to = socket_address(ip(127, 0, 0, 9), c.port);
    to[0] = static_cast<uint8_t>(c.family);
    to[8] = 0x5A;  // the rest of the address travels along
    const bytes_t original = to;
    uint8_t moved[16];
    int length = 0;
    const auto* target =
        static_cast<const uint8_t*>(sockets::connect_target(to.data(), 16, moved, &length));
    EXPECT_EQ(length, 16);
    bytes_t expected = original;
    bytes::store_u16be(expected.data() + 2, c.reached);
    EXPECT_EQ(bytes_t(target, target + 16), expected);
    EXPECT_EQ(to, original) << "the caller's address is not changed";
  }
  core::launcher_verdict = 1;
}

TEST_F(Interception, DedicatedServerCopiesMasterAndKeyPacketsFromTheQuerySocket) {
  core::process.operating_mode = core::mode_server;
  char master[] = "127.0.0.1:27901";
  char key[] = "127.0.0.1:29911";
  redirect::redirection_entry("gsqr_mstr", master);
  redirect::redirection_entry("gsqr_key", key);
  bytes_t heartbeat = {0x03, 1, 2, 3, 4, 'l', 'o', 'c', 'a', 'l', 'i', 'p', '0'};
  heartbeat.resize(30, 'x');
  const bytes_t availability = {0x09, 0, 0, 0, 0, 'b', 'a', 't', 't', 'l', 'e',
                                'f',  'i', 'e', 'l', 'd', '2', 0};
  const bytes_t keycheck = {0x3B, 1, 2, 3};
  auto copies_to = [](uint16_t port) {
    int n = 0;
    for (const auto& s : sends) n += bytes::load_u32le(s.to.data()) ==
                                     (2u | (static_cast<uint32_t>(port >> 8) << 16) |
                                      (static_cast<uint32_t>(port & 0xFF) << 24));
    return n;
  };

  // The availability packet to another port notes nothing.
  send_from(5, availability, 27950);
  EXPECT_EQ(sockets::query_socket.load(), platform::invalid_socket);
  send_from(5, keycheck, 29910);
  EXPECT_EQ(copies_to(29911), 0) << "not from the query socket";

  send_from(5, availability, 27900);
  EXPECT_EQ(sockets::query_socket.load(), 5u);
  send_from(6, heartbeat, 27900);
  EXPECT_EQ(sockets::query_socket.load(), 6u) << "a newer heartbeat replaces it";
  ASSERT_EQ(copies_to(27901), 2);
  EXPECT_EQ(sends.back().data, heartbeat);
  EXPECT_EQ(sends[sends.size() - 2].data, heartbeat) << "the copy, then the caller's own";
  send_from(6, keycheck, 29910);
  EXPECT_EQ(copies_to(29911), 1);
  send_from(5, keycheck, 29910);
  EXPECT_EQ(copies_to(29911), 1) << "the older socket is no longer the query socket";

  // gsqr_mstr unset: heartbeats go only where the game sends them.
  char none[] = "";
  redirect::redirection_entry("gsqr_mstr", none);
  sends.clear();
  send_from(6, heartbeat, 27900);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(bytes::load_u16le(sends[0].to.data() + 2), bytes::to_network_u16(27900));
  core::process.operating_mode = core::mode_client;
}

}  // namespace
