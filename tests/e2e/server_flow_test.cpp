// The dedicated server's whole flow under Wine: hostsim's server copy with
// ostrel.dll and the real runtime's dice_py.dll against the reference lookup,
// statistics (HTTP and session) and log collector endpoints on loopback.  The
// native script runtime tier runs the same flow inside its own interpreter.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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
// the queue folder across a restart of the server, and both arrive, once
// each, when the web server is up again.
TEST(ServerFlow, QueuedSnapshotsSurviveARestartWhileTheWebServerIsDown) {
  // The lookup service (the statistics host's address) and the web server
  // are all this needs.
  server_flow::reference_service service;
  // Before gpaInit the snapshot digests carry the empty provider ID.
  service.web.add_provider("");
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
  ASSERT_TRUE(service.web.set_fault(service::stats_http_server::fault::none));
  EXPECT_TRUE(service.web.wait_for_snapshots(2, 60000));
  // A little longer: nothing arrives twice.
  EXPECT_FALSE(service.web.wait_for_snapshots(3, 3000));
  std::vector<std::string> arrived;
  for (const auto& snap : service.web.snapshots()) arrived.emplace_back(snap.data.begin(), snap.data.end());
  EXPECT_EQ(arrived, (std::vector<std::string>{"kept-across-restart-1", "kept-across-restart-2"}));
  EXPECT_EQ(files(), 0u);
  server.stop();
  service.web.stop();
  service.lookup.stop();
  clean_flow_server();
}

}  // namespace
}  // namespace e2e
