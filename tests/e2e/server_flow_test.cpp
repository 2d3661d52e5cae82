// The dedicated server's whole flow under Wine: hostsim's server copy with
// ostrel.dll and the real runtime's dice_py.dll against the reference lookup,
// statistics (HTTP and session) and log collector endpoints on loopback.  The
// native script runtime tier runs the same flow inside its own interpreter.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace e2e
