// The dedicated server's login capture over a table of connection packets
// (the three forms, the length limits, lengths beyond the datagram), the
// player login table's store and read rules, and the game socket found
// through the published game port.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "base/bytes.h"
#include "core/process_state.h"
#include "interception_fixture.h"
#include "platform/native/test_controls.h"
#include "sockets/login_capture.h"
#include "sockets/player_logins.h"
#include "sockets/receive_filters.h"
#include "sockets/traffic_state.h"

namespace {

using bytes_t = std::vector<uint8_t>;
constexpr uint32_t player_address = 0x0100007F;  // 127.0.0.1

// A connection packet of the given form: slot in the first word, name, the
// profile word (profile << 1, top bit in the skipped field's first byte), a
// skipped field of skip bytes and the 24-byte proof.
struct packet_spec {
  int form = 2;          // 1: 0x0F/0x0A/0x84 bytes; 2: kind word 7; 3: kind word 0x3F
  uint16_t slot = 5;
  std::string name = "Player";
  uint32_t profile = 0x12345678;
  uint16_t skip = 4;
  uint16_t proof_length = 24;
  uint32_t marker = 0x04000000;
  size_t pad = 8;        // bytes after the proof
};

bytes_t packet(const packet_spec& p) {
  bytes_t d(24, 0);
  bytes::store_u16le(d.data(), static_cast<uint16_t>(p.slot << 4));
  if (p.form == 1) {
    d[0] |= 0x0F;
    d[9] = 0x0A;
    d[11] = 0x84;
    bytes::store_u32le(d.data() + 3, 0x100);
  } else if (p.form == 2) {
    bytes::store_u32le(d.data() + 3, 7);
  } else {
    bytes::store_u32le(d.data() + 3, 0x3F);
    d[9] = 0x0A;
    d[10] = 0x0F;
  }
  bytes::store_u32le(d.data() + 17, p.marker);
  bytes::store_u16le(d.data() + 22, static_cast<uint16_t>(p.name.size()));
  d.insert(d.end(), p.name.begin(), p.name.end());
  const size_t at = d.size();
  d.resize(at + 10 + p.skip, 0);
  bytes::store_u32le(d.data() + at + 4, p.profile << 1);
  bytes::store_u16le(d.data() + at + 8, p.skip);
  if (p.profile & 0x80000000u) d[at + 8] |= 1;  // the top bit rides in the length's low bit
  d.push_back(static_cast<uint8_t>(p.proof_length));
  d.push_back(static_cast<uint8_t>(p.proof_length >> 8));
  for (int i = 0; i < 24; ++i) d.push_back(static_cast<uint8_t>('a' + i));
  d.resize(d.size() + p.pad, 0);
  return d;
}

bool read_login(uint32_t profile, uint32_t slot, std::string* name, std::string* proof,
                uint32_t address = player_address, size_t capacity = 64) {
  uint8_t n[64], pr[64];
  size_t nl = capacity, pl = capacity;
  if (sockets::login_record_read(profile, address, slot, n, pr, &nl, &pl) != 0) return false;
  if (name) name->assign(reinterpret_cast<char*>(n), nl);
  if (proof) proof->assign(reinterpret_cast<char*>(pr), pl);
  return true;
}

class LoginCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sockets::player_logins_allocate(), 0);
    sockets::player_logins_clear();
  }
};

TEST_F(LoginCapture, PacketsOverTheirFormsAndLimits) {
  auto packet_with = [](auto change) {
    packet_spec p;
    change(p);
    return p;
  };
  const std::string proof = "abcdefghijklmnopqrstuvwx";
  const struct {
    const char* name;
    packet_spec p;
    size_t cut;       // bytes taken off the end
    bool stored;
  } cases[] = {
      {"form 1", packet_with([](packet_spec& p) { p.form = 1; }), 0, true},
      {"form 2", packet_with([](packet_spec&) {}), 0, true},
      {"form 3", packet_with([](packet_spec& p) { p.form = 3; }), 0, true},
      {"top profile bit", packet_with([](packet_spec& p) { p.profile = 0x80000001; p.skip = 5; }), 0, true},
      {"name of 29", packet_with([](packet_spec& p) { p.name = std::string(29, 'n'); }), 0, true},
      {"name of 30", packet_with([](packet_spec& p) { p.name = std::string(30, 'n'); }), 0, false},
      {"skip of 10", packet_with([](packet_spec& p) { p.skip = 10; }), 0, true},
      {"skip of 11", packet_with([](packet_spec& p) { p.skip = 11; }), 0, false},
      {"proof length 23", packet_with([](packet_spec& p) { p.proof_length = 23; }), 0, false},
      {"no marker", packet_with([](packet_spec& p) { p.marker = 0x04000001; }), 0, false},
      {"profile 0", packet_with([](packet_spec& p) { p.profile = 0; }), 0, false},
      {"proof cut by the datagram's end",
       packet_with([](packet_spec& p) { p.name = std::string(29, 'n'); p.skip = 10; p.pad = 0; }), 1, false},
      {"proof up to the datagram's end",
       packet_with([](packet_spec& p) { p.name = std::string(29, 'n'); p.skip = 10; p.pad = 0; }), 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sockets::player_logins_clear();
    bytes_t d = packet(c.p);
    d.resize(d.size() - c.cut);
    sockets::login_capture(d.data(), d.size(), player_address);
    std::string name, got_proof;
    EXPECT_EQ(read_login(c.p.profile, c.p.slot, &name, &got_proof), c.stored);
    if (c.stored) {
      EXPECT_EQ(name, c.p.name);
      EXPECT_EQ(got_proof, proof);
    }
  }

  // Lengths announced beyond a short datagram: every prefix of a packet whose
  // fields run to its end is refused without a read outside it.
  packet_spec longest;
  longest.name = std::string(29, 'n');
  longest.skip = 10;
  longest.pad = 0;
  const bytes_t full = packet(longest);
  sockets::player_logins_clear();
  for (size_t n = 0; n < full.size(); ++n) {
    const bytes_t prefix(full.begin(), full.begin() + static_cast<long>(n));
    sockets::login_capture(prefix.data(), prefix.size(), player_address);
  }
  EXPECT_FALSE(read_login(longest.profile, longest.slot, nullptr, nullptr));
}

TEST_F(LoginCapture, FifthLoginReplacesTheOldestARepeatReplacesItsOwn) {
  const uint8_t proof[24] = {1};
  auto store = [&](uint32_t profile, const char* name) {
    sockets::store_login(9, player_address, profile, reinterpret_cast<const uint8_t*>(name),
                         std::strlen(name), proof, sizeof proof);
  };
  store(1, "one");
  store(2, "two");
  store(3, "three");
  store(1, "one again");  // in place, the index does not move
  store(4, "four");
  EXPECT_TRUE(read_login(1, 9, nullptr, nullptr));
  store(5, "five");  // the fifth different login: replaces the first stored
  EXPECT_FALSE(read_login(1, 9, nullptr, nullptr));
  std::string name;
  for (uint32_t profile : {2u, 3u, 4u, 5u}) EXPECT_TRUE(read_login(profile, 9, nullptr, nullptr));
  store(6, "six");
  EXPECT_FALSE(read_login(2, 9, nullptr, nullptr));

  // Reads: another address or slot finds nothing, a slot above 255 reads as
  // nothing found, capacities cut what is copied, long texts are cut to 30.
  EXPECT_FALSE(read_login(3, 9, nullptr, nullptr, player_address + 1));
  EXPECT_FALSE(read_login(3, 8, nullptr, nullptr));
  EXPECT_FALSE(read_login(3, 256, nullptr, nullptr));
  EXPECT_FALSE(read_login(0, 0, nullptr, nullptr)) << "an empty record never matches";
  ASSERT_TRUE(read_login(3, 9, &name, nullptr, player_address, 2));
  EXPECT_EQ(name, "th");
  const std::string long_name(40, 'L');
  sockets::store_login(300, player_address, 7, reinterpret_cast<const uint8_t*>(long_name.data()),
                       long_name.size(), proof, sizeof proof);  // slot above 255: nothing
  sockets::store_login(10, player_address, 7, reinterpret_cast<const uint8_t*>(long_name.data()),
                       long_name.size(), proof, sizeof proof);
  ASSERT_TRUE(read_login(7, 10, &name, nullptr));
  EXPECT_EQ(name, std::string(30, 'L'));
}

TEST_F(LoginCapture, GameSocketIsFoundThroughThePublishedPort) {
  using namespace interception_test;
  core::process.operating_mode = core::mode_server;
  sockets::traffic_state_reset();
  platform::test::set_real_recvfrom(fake_recvfrom);
  auto bound = [](uint16_t* port) {
    int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    *port = ntohs(sa.sin_port);
    return s;
  };
  uint16_t game_port = 0, other_port = 0;
  const int game = bound(&game_port);
  const int other = bound(&other_port);
  packet_spec p;
  next_datagram = packet(p);
  next_from = socket_address(player_address, 3000);
  auto receive_on = [](int s) {
    char buffer[200];
    uint8_t from[16];
    int from_length = 16;
    return sockets::server_receive_filter(static_cast<uintptr_t>(s), buffer, sizeof buffer, 0, from,
                                          &from_length);
  };

  EXPECT_EQ(receive_on(game), static_cast<int>(next_datagram.size()));
  EXPECT_FALSE(read_login(p.profile, p.slot, nullptr, nullptr)) << "no port published yet";
  sockets::publish_game_port(game_port);
  receive_on(other);
  EXPECT_EQ(sockets::game_socket.load(), platform::invalid_socket);
  EXPECT_FALSE(read_login(p.profile, p.slot, nullptr, nullptr)) << "another socket";
  receive_on(game);
  EXPECT_EQ(sockets::game_socket.load(), static_cast<uintptr_t>(game));
  EXPECT_TRUE(read_login(p.profile, p.slot, nullptr, nullptr));

  platform::test::set_real_recvfrom(nullptr);
  sockets::traffic_state_reset();
  ::close(game);
  ::close(other);
  core::process.operating_mode = 0;
}

}  // namespace
