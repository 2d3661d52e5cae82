// ostrel.dll inside hostsim under Wine: it loads as a client and as a dedicated
// server, real UDP and TCP traffic passes unchanged, refused calls give exactly
// the plain WS2_32 result and last-error, and ordinals resolve as a host that
// binds by ordinal would see them.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include "loopback_peer.h"
#include "wine_host.h"

namespace e2e {
namespace {

struct mode_case {
  const char* name;
  std::string (*dir)();
};
const mode_case both_modes[] = {{"client", client_dir}, {"server", server_dir}};

TEST(Forwarding, UdpDatagramsPassUnchangedBothWays) {
  for (const auto& mode : both_modes) {
    SCOPED_TRACE(mode.name);
    hostsim host;
    ASSERT_TRUE(host.start(mode.dir()));
    udp_peer peer;
    ASSERT_TRUE(peer.open());
    auto socket_line = words(host.command("udp 0"));
    ASSERT_EQ(socket_line.size(), 3u);
    ASSERT_EQ(socket_line[0], "ok");
    const std::string sock = socket_line[1];
    const uint16_t host_port = static_cast<uint16_t>(std::stoi(socket_line[2]));

    // Sizes around nothing, one byte, a typical query and a large datagram.
    for (size_t size : {size_t{1}, size_t{7}, size_t{1400}, size_t{8000}}) {
      std::vector<uint8_t> out = pattern_bytes(size, static_cast<uint32_t>(size));
      out[0] = 0xFE;  // query-like first byte
      ASSERT_EQ(host.command("sendto " + sock + " 127.0.0.1 " + std::to_string(peer.port) + " " +
                             to_hex(out)),
                "ok " + std::to_string(size));
      std::vector<uint8_t> got;
      uint16_t from_port = 0;
      uint32_t from_address = 0;
      ASSERT_TRUE(peer.receive(got, from_port, from_address));
      EXPECT_EQ(got, out);
      EXPECT_EQ(from_port, host_port);
      EXPECT_EQ(from_address, htonl(INADDR_LOOPBACK));

      std::vector<uint8_t> back = pattern_bytes(size, static_cast<uint32_t>(size) + 99);
      ASSERT_TRUE(peer.send_to(back, host_port));
      EXPECT_EQ(host.command("recvfrom " + sock + " 5000"),
                "ok 127.0.0.1 " + std::to_string(peer.port) + " " + to_hex(back));
    }
    EXPECT_EQ(host.command("close " + sock), "ok");
  }
}

TEST(Forwarding, TcpStreamsPassUnchangedBothDirections) {
  for (const auto& mode : both_modes) {
    SCOPED_TRACE(mode.name);
    hostsim host;
    ASSERT_TRUE(host.start(mode.dir()));

    // hostsim connects out to a native listener.
    tcp_listener listener;
    ASSERT_TRUE(listener.open());
    auto connected = words(host.command("tcp_connect 127.0.0.1 " + std::to_string(listener.port)));
    ASSERT_EQ(connected.size(), 2u);
    ASSERT_EQ(connected[0], "ok");
    int far = listener.accept_one();
    ASSERT_GE(far, 0);
    std::vector<uint8_t> out = pattern_bytes(3000, 5);
    EXPECT_EQ(host.command("send " + connected[1] + " " + to_hex(out)), "ok 3000");
    std::vector<uint8_t> got;
    ASSERT_TRUE(receive_exactly(far, got, out.size()));
    EXPECT_EQ(got, out);
    std::vector<uint8_t> back = pattern_bytes(200, 6);
    ASSERT_TRUE(send_all(far, back));
    EXPECT_EQ(host.command("recv " + connected[1] + " 5000"), "ok " + to_hex(back));
    EXPECT_EQ(host.command("close " + connected[1]), "ok");
    ::close(far);

    // A native client connects in to hostsim's listener.
    auto listening = words(host.command("tcp_listen 0"));
    ASSERT_EQ(listening.size(), 3u);
    ASSERT_EQ(listening[0], "ok");
    int near = tcp_connect_loopback(static_cast<uint16_t>(std::stoi(listening[2])));
    ASSERT_GE(near, 0);
    auto accepted = words(host.command("accept " + listening[1] + " 5000"));
    ASSERT_EQ(accepted.size(), 2u);
    ASSERT_EQ(accepted[0], "ok");
    std::vector<uint8_t> hello = pattern_bytes(64, 7);
    ASSERT_TRUE(send_all(near, hello));
    EXPECT_EQ(host.command("recv " + accepted[1] + " 5000"), "ok " + to_hex(hello));
    ::close(near);
  }
}

TEST(Forwarding, RefusedCallsMatchThePlainLibraryExactly) {
  hostsim plain;
  ASSERT_TRUE(plain.start(plain_dir()));
  std::string expected = plain.command("invalid");
  ASSERT_EQ(expected.rfind("ok send=", 0), 0u) << expected;
  for (const auto& mode : both_modes) {
    SCOPED_TRACE(mode.name);
    hostsim host;
    ASSERT_TRUE(host.start(mode.dir()));
    EXPECT_EQ(host.command("invalid"), expected);
  }
}

TEST(Forwarding, HostBindingByOrdinalFindsExactlyTheExports) {
  // Everything from 1 to 200 is tried: 54, 101 to 110, 113, 114 must fail.
  const std::string expected =
      "ok 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 51 52 53 55 56 57 78 111 "
      "112 115 116 151";
  for (const auto& mode : both_modes) {
    SCOPED_TRACE(mode.name);
    hostsim host;
    ASSERT_TRUE(host.start(mode.dir()));
    EXPECT_EQ(host.command("ordinals"), expected);
  }
}

TEST(Forwarding, PlainNamesResolveThroughTheRealResolver) {
  // The machine's own resolver decides the answer (a hosts file that also names
  // ::1 localhost gives 127.0.0.1 twice): the plain library's answer is the one.
  hostsim plain;
  ASSERT_TRUE(plain.start(plain_dir()));
  std::string by_name = plain.command("resolve localhost");
  ASSERT_EQ(by_name.rfind("ok name=localhost type=2 len=4 addrs=127.0.0.1", 0), 0u) << by_name;
  std::string by_digits = plain.command("resolve 127.0.0.1");
  ASSERT_EQ(by_digits, "ok name=127.0.0.1 type=2 len=4 addrs=127.0.0.1 aliases=");
  hostsim host;
  ASSERT_TRUE(host.start(client_dir()));
  EXPECT_EQ(host.command("resolve localhost"), by_name);
  EXPECT_EQ(host.command("resolve 127.0.0.1"), by_digits);
}

}  // namespace
}  // namespace e2e
