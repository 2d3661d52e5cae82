// Query traffic inside hostsim under Wine.  Client: the server-list
// connection refreshes the ranked list from the reference master (found
// through the lookup service) and reaches port 28911; a listed server's
// answer arrives unchanged, an unlisted one's "1" as "0"; a launcher verdict
// of 0 switches all of it off.  Dedicated server: heartbeat and key-check
// packets from the query socket are copied to the forward addresses, and not
// without "gsqr_mstr" nor from another socket.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "deploy_values.h"
#include "game_peers.h"
#include "loopback_peer.h"
#include "service/lookup_service.h"
#include "service/master_server.h"
#include "wine_host.h"

namespace e2e {
namespace {

using kind = service::master_datagram::kind;

service::ranked_keys dll_keys() {
  return service::make_ranked_keys(deploy::ranked_key_chain, deploy::ranked_mac_chain,
                                   deploy::ranked_feedback);
}

uint32_t loopback() { return htonl(INADDR_LOOPBACK); }


class QueryTraffic : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plain_.start(plain_dir()));
    const std::string roaming = plain_.command("appdata");
    ASSERT_EQ(roaming.rfind("ok ", 0), 0u) << roaming;
    ranked_file_ = unix_path(roaming.substr(3) + "\\Ostrel\\rankedservers");
    std::filesystem::remove(ranked_file_);
    for (const char* value : {"client_opmode", "serverBrowserMode"})
      plain_.command(std::string("reg_delete hkcu ") + value);
  }
  void TearDown() override {
    for (const char* value : {"client_opmode", "serverBrowserMode"})
      plain_.command(std::string("reg_delete hkcu ") + value);
    std::filesystem::remove(ranked_file_);
  }
  hostsim plain_;
  std::string ranked_file_;
};

TEST_F(QueryTraffic, ClientRefreshesOnTheServerListConnectionAndCorrectsAnswers) {
  game_server_peer listed, unlisted, unlisted_split;
  ASSERT_TRUE(listed.start(plain_query_answer("1")));
  ASSERT_TRUE(unlisted.start(plain_query_answer("1")));
  ASSERT_TRUE(unlisted_split.start(split_query_answer("1")));
  service::lookup_service lookup(deploy::lookup_chain, 29960);
  lookup.map_name(deploy::master_host, {loopback()});
  ASSERT_TRUE(lookup.start()) << "127.0.0.1:29960 is taken";
  service::master_server master(dll_keys(), 27900);
  master.set_servers({{loopback(), listed.port(), 1}}, 29900);
  master.set_fragment_size(16);
  ASSERT_TRUE(master.start()) << "127.0.0.1:27900 is taken";
  tcp_listener moved;
  ASSERT_TRUE(moved.open(28911)) << "127.0.0.1:28911 is taken";
  ASSERT_EQ(plain_.command("reg_set hkcu dword serverBrowserMode 1"), "ok");

  hostsim client;
  ASSERT_TRUE(client.start(client_dir()));
  auto reached = words(client.command("connect_reached 127.0.0.1 28910", 20000));
  ASSERT_EQ(reached.size(), 3u);
  EXPECT_EQ(reached[2], "28911") << "the server-list connection moves to 28911";
  int far = moved.accept_one(2000);
  EXPECT_GE(far, 0);
  if (far >= 0) ::close(far);
  EXPECT_EQ(master.count(kind::list_request), 1);
  EXPECT_GE(master.count(kind::acknowledgement), 1);
  std::ifstream in(ranked_file_, std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::vector<uint8_t> blob = master.last_blob();
  ASSERT_EQ(file.size(), blob.size() + 8) << ranked_file_;
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 8, file.end()), blob);

  auto sock = words(client.command("udp 0"));
  ASSERT_EQ(sock.size(), 3u);
  auto ask = [&](const game_server_peer& server) {
    return client.command("query " + sock[1] + " 127.0.0.1 " + std::to_string(server.port()) + " 3000");
  };
  const std::string prefix = "ok 127.0.0.1 ";
  EXPECT_EQ(ask(listed), prefix + std::to_string(listed.port()) + " " + to_hex(plain_query_answer("1")));
  EXPECT_EQ(ask(unlisted),
            prefix + std::to_string(unlisted.port()) + " " + to_hex(plain_query_answer("0")));
  std::vector<uint8_t> split_fixed = split_query_answer("1");
  split_fixed[16 + 9 + 16 + 11] = '0';  // only the first bf2_ranked
  EXPECT_EQ(ask(unlisted_split),
            prefix + std::to_string(unlisted_split.port()) + " " + to_hex(split_fixed));

  // A restarted client loads the list from its file before any refresh.
  master.stop();
  hostsim restarted;
  ASSERT_TRUE(restarted.start(client_dir()));
  auto sock2 = words(restarted.command("udp 0"));
  ASSERT_EQ(sock2.size(), 3u);
  EXPECT_EQ(restarted.command("query " + sock2[1] + " 127.0.0.1 " + std::to_string(listed.port()) +
                              " 3000"),
            prefix + std::to_string(listed.port()) + " " + to_hex(plain_query_answer("1")));
}

TEST_F(QueryTraffic, LauncherVerdictZeroSwitchesItAllOff) {
  game_server_peer unlisted;
  ASSERT_TRUE(unlisted.start(plain_query_answer("1")));
  service::master_server master(dll_keys(), 27900);
  ASSERT_TRUE(master.start()) << "127.0.0.1:27900 is taken";
  tcp_listener list_port;
  ASSERT_TRUE(list_port.open(28910)) << "127.0.0.1:28910 is taken";
  ASSERT_EQ(plain_.command("reg_set hkcu dword serverBrowserMode 1"), "ok");
  ASSERT_EQ(plain_.command("reg_set hkcu dword client_opmode 0"), "ok");

  hostsim client;
  ASSERT_TRUE(client.start(client_dir()));
  client.command("resolve localhost");  // the name hook asks the launcher
  auto reached = words(client.command("connect_reached 127.0.0.1 28910", 20000));
  ASSERT_EQ(reached.size(), 3u);
  EXPECT_EQ(reached[2], "28910");
  EXPECT_TRUE(master.received().empty()) << "no refresh";
  auto sock = words(client.command("udp 0"));
  ASSERT_EQ(sock.size(), 3u);
  EXPECT_EQ(client.command("query " + sock[1] + " 127.0.0.1 " + std::to_string(unlisted.port()) +
                           " 3000"),
            "ok 127.0.0.1 " + std::to_string(unlisted.port()) + " " +
                to_hex(plain_query_answer("1")));
}

TEST_F(QueryTraffic, ServerCopiesHeartbeatAndKeyCheckToTheForwardAddresses) {
  udp_peer master, key_check, master_copy, key_copy;
  ASSERT_TRUE(master.open(27900)) << "127.0.0.1:27900 is taken";
  ASSERT_TRUE(key_check.open(29910)) << "127.0.0.1:29910 is taken";
  ASSERT_TRUE(master_copy.open());
  ASSERT_TRUE(key_copy.open());
  const std::string settings = server_dir() + "/ostrel_hostsim.exe.cfg";
  std::vector<uint8_t> heartbeat = {0x03, 1, 2, 3, 4, 'l', 'o', 'c', 'a', 'l', 'i', 'p', '0', 0};
  const std::string more = "127.0.0.1";
  heartbeat.insert(heartbeat.end(), more.begin(), more.end());
  heartbeat.push_back(0);
  const std::vector<uint8_t> keycheck = {0x3B, 0x5C, 0x61, 0x62, 0x63};
  auto got_copy = [](udp_peer& peer, const std::vector<uint8_t>& expected, int timeout_ms) {
    std::vector<uint8_t> data;
    uint16_t from_port = 0;
    uint32_t from_address = 0;
    return peer.receive(data, from_port, from_address, timeout_ms) && data == expected;
  };

  {
    std::ofstream cfg(settings);
    cfg << "gsqr_mstr = 127.0.0.1:" << master_copy.port << "\r\ngsqr_key = 127.0.0.1:"
        << key_copy.port << "\r\n";
  }
  hostsim server;
  ASSERT_TRUE(server.start(server_dir()));
  auto query = words(server.command("udp 0"));
  auto other = words(server.command("udp 0"));
  ASSERT_EQ(query.size(), 3u);
  ASSERT_EQ(other.size(), 3u);
  ASSERT_EQ(server.command("sendto " + other[1] + " 127.0.0.1 29910 " + to_hex(keycheck)), "ok 5");
  EXPECT_TRUE(got_copy(key_check, keycheck, 3000));
  EXPECT_FALSE(got_copy(key_copy, keycheck, 500)) << "no query socket yet";

  ASSERT_EQ(server.command("sendto " + query[1] + " 127.0.0.1 27900 " + to_hex(heartbeat)),
            "ok " + std::to_string(heartbeat.size()));
  EXPECT_TRUE(got_copy(master, heartbeat, 3000));
  EXPECT_TRUE(got_copy(master_copy, heartbeat, 3000)) << "the heartbeat's copy";
  ASSERT_EQ(server.command("sendto " + query[1] + " 127.0.0.1 29910 " + to_hex(keycheck)), "ok 5");
  EXPECT_TRUE(got_copy(key_check, keycheck, 3000));
  EXPECT_TRUE(got_copy(key_copy, keycheck, 3000)) << "the key check's copy";
  ASSERT_EQ(server.command("sendto " + other[1] + " 127.0.0.1 29910 " + to_hex(keycheck)), "ok 5");
  EXPECT_TRUE(got_copy(key_check, keycheck, 3000));
  EXPECT_FALSE(got_copy(key_copy, keycheck, 500)) << "not from another socket";
  server.stop();

  // Without "gsqr_mstr" the heartbeat goes only where the game sends it.
  std::filesystem::remove(settings);
  hostsim bare;
  ASSERT_TRUE(bare.start(server_dir()));
  auto s = words(bare.command("udp 0"));
  ASSERT_EQ(s.size(), 3u);
  ASSERT_EQ(bare.command("sendto " + s[1] + " 127.0.0.1 27900 " + to_hex(heartbeat)),
            "ok " + std::to_string(heartbeat.size()));
  EXPECT_TRUE(got_copy(master, heartbeat, 3000));
  EXPECT_FALSE(got_copy(master_copy, heartbeat, 500));
}

}  // namespace
}  // namespace e2e
