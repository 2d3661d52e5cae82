// The dedicated server's whole flow under Wine: hostsim's server copy with
// ostrel.dll and the real runtime's dice_py.dll against the reference lookup,
// statistics (HTTP and session) and log collector endpoints on loopback.  The
// native script runtime tier runs the same flow inside its own interpreter.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "loopback_peer.h"
#include "server_flow.h"
#include "wine_flow_server.h"

namespace e2e {
namespace {

TEST(ServerFlow, HandshakeExchangeSnapshotPlayerTokenLogAndCompanion) {
  server_flow::reference_service service;
  std::string why;
  ASSERT_TRUE(service.start(&why)) << why;
  hostsim server;
  ASSERT_TRUE(start_flow_server(server));
  server_flow::server s = flow_server(server);
  EXPECT_EQ(server_flow::run_for_test(s, service), "");
  server.stop();
  service.stop();
  clean_flow_server();
}

// Two snapshots submitted while the statistics web server is down stay in
// the queue folder across a restart of the server.  The restarted server's
// scripts call gpaInit late: until then nothing goes out (an upload without
// the provider ID would be refused); then both arrive, once each.
TEST(ServerFlow, QueuedSnapshotsSurviveARestartAndWaitForGpaInit) {
  // The lookup service (the statistics host's address) and the web server
  // are all this needs.
  server_flow::reference_service service;
  std::string why;
  ASSERT_TRUE(service.lookup.start());
  ASSERT_TRUE(service.web.start(&why)) << why;
  ASSERT_TRUE(service.web.set_fault(service::stats_http_server::fault::refuse));
  hostsim server;
  ASSERT_TRUE(start_flow_server(server));
  const std::string appdata = server.command("appdata");
  ASSERT_EQ(appdata.rfind("ok ", 0), 0u) << appdata;
  const std::filesystem::path queue = unix_path(appdata.substr(3) + "\\Ostrel\\snapshots");
  std::error_code ec;
  std::filesystem::remove_all(queue, ec);

  server_flow::server s = flow_server(server);
  ASSERT_TRUE(s.register_host());
  ASSERT_EQ(s.exec("import ostrellib"), "ok");
  ASSERT_EQ(server_flow::identify(s), "ok True");
  EXPECT_EQ(s.eval("ostrellib.glsSendSnapshot('kept-across-restart-1')"), "ok True");
  EXPECT_EQ(s.eval("ostrellib.glsSendSnapshot('kept-across-restart-2')"), "ok True");
  const auto files = [&] {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(queue, ec))
      n += e.path().extension() == ".hsq" ? 1 : 0;
    return n;
  };
  EXPECT_EQ(files(), 2u);
  server.stop();

  ASSERT_TRUE(server.start(server_dir()));
  ASSERT_EQ(server.command("py_start"), "ok");
  // The game registers its "host" module as it starts: that first call into
  // the library runs the deferred start-up, which restores the queue and
  // starts the worker.
  server_flow::server again = flow_server(server);
  ASSERT_TRUE(again.register_host());
  ASSERT_EQ(again.exec("import ostrellib"), "ok");
  ASSERT_TRUE(service.web.set_fault(service::stats_http_server::fault::none));
  EXPECT_FALSE(service.web.wait_for_snapshots(1, 5000)) << "sent before gpaInit";
  EXPECT_TRUE(service.web.rejections().empty());
  ASSERT_EQ(server_flow::identify(again), "ok True");
  EXPECT_TRUE(service.web.wait_for_snapshots(2, 60000));
  // A little longer: nothing arrives twice.
  EXPECT_FALSE(service.web.wait_for_snapshots(3, 3000));
  std::vector<std::string> arrived;
  for (const auto& snap : service.web.snapshots()) arrived.emplace_back(snap.data.begin(), snap.data.end());
  EXPECT_EQ(arrived, (std::vector<std::string>{"kept-across-restart-1", "kept-across-restart-2"}));
  EXPECT_TRUE(service.web.rejections().empty());
  EXPECT_EQ(files(), 0u);
  server.stop();
  service.web.stop();
  service.lookup.stop();
  clean_flow_server();
}

// The host cleans its socket library up and starts it again while the
// library's session socket lives, then opens a socket of its own: that
// socket is the host's alone, and every datagram sent to it reaches the
// host, also across the next session exchange, which runs a minute after
// the first.
TEST(ServerFlow, HostsSocketCleanupLeavesTheSessionSocketAlone) {
  server_flow::reference_service service;
  std::string why;
  ASSERT_TRUE(service.start(&why)) << why;
  hostsim server;
  ASSERT_TRUE(start_flow_server(server));
  server_flow::server s = flow_server(server);
  ASSERT_TRUE(s.register_host());
  ASSERT_EQ(s.exec("import ostrellib"), "ok");
  ASSERT_EQ(server_flow::identify(s), "ok True");
  for (int waited = 0; service.responder.requests() < 1 && waited < 30000; waited += 100)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_GE(service.responder.requests(), 1) << "the first session exchange";

  ASSERT_EQ(server.command("wsacleanup"), "ok");
  ASSERT_EQ(server.command("wsastartup"), "ok");
  const std::vector<std::string> opened = words(server.command("udp 0"));
  ASSERT_EQ(opened.size(), 3u);
  ASSERT_EQ(opened[0], "ok");
  const uint16_t port = static_cast<uint16_t>(std::stoi(opened[2]));

  udp_peer sender;
  ASSERT_TRUE(sender.open());
  int sent = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
  int settled = 0;  // datagrams sent since the second exchange came
  while (settled < 4 && std::chrono::steady_clock::now() < deadline) {
    const std::string data = "host-" + std::to_string(sent++);
    sender.send_to(std::vector<uint8_t>(data.begin(), data.end()), port);
    if (service.responder.requests() >= 2) ++settled;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  EXPECT_GE(service.responder.requests(), 2) << "the next exchange ran";
  int received = 0;
  for (; received < sent; ++received) {
    const std::vector<std::string> w =
        words(server.command("recvfrom " + opened[1] + " 3000", 10000));
    const std::string expected = "host-" + std::to_string(received);
    if (w.size() != 4 || w[0] != "ok" || from_hex(w[3]) != std::vector<uint8_t>(expected.begin(), expected.end()))
      break;
  }
  EXPECT_EQ(received, sent) << "the host's socket lost a datagram";
  server.command("close " + opened[1]);
  server.stop();
  service.stop();
  clean_flow_server();
}

}  // namespace
}  // namespace e2e
