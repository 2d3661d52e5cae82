// The dedicated server's whole flow natively: the library bound to the natively
// built interpreter as a dedicated server, its worker thread running, against
// the reference service's endpoints, exactly as the Wine end-to-end tier runs
// it inside hostsim's server copy.  Here the endpoints and the game socket sit
// on ports the system chose, and the library's fixed service ports are mapped
// to them, so that two runs on one machine never meet.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "core/log_echo.h"
#include "core/process_state.h"
#include "core/service_state.h"
#include "embedded_runtime.h"
#include "platform/native/test_controls.h"
#include "redirect/address_table.h"
#include "redirect/lookup_protocol.h"
#include "redirect/lookup_refresh.h"
#include "server_flow.h"
#include "snapshot/session_exchange.h"
#include "snapshot/snapshot_queue.h"
#include "snapshot/snapshot_send.h"
#include "snapshot/worker.h"
#include "sockets/dispatch.h"
#include "sockets/traffic_state.h"
#include "working_folder.h"

namespace {

class ServerFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_test::start_runtime();
    working_folder::write("w32ded/flow_server.exe", "MZ the flow's server executable");
    executable_ = runtime_test::runtime_folder() + "/w32ded/flow_server.exe";
    platform::test::set_executable_path(executable_.c_str());
    platform::test::use_real_clock();
    runtime_test::clear_answers();
    runtime_test::console_log().clear();
    // A dedicated server as start-up leaves it: a fresh state block, the
    // receive filter, a worker thread, no lookup exchange yet, an empty queue.
    *core::service = core::service_state{};
    core::process.operating_mode = core::mode_server;
    sockets::select_receive_filter(core::mode_server);
    sockets::traffic_state_reset();
    redirect::last_refresh_time = 0;
    snapshot::queue_reset();
    std::string why;
    ASSERT_TRUE(service_.start(&why)) << why;
    for (const auto& [fixed, chosen] : mapped_ports())
      platform::test::map_send_port(fixed, chosen);
    ASSERT_TRUE(open_game_socket());
    ASSERT_EQ(snapshot::worker_start(), 0);
  }
  void TearDown() override {
    snapshot::worker_stop();
    service_.stop();
    for (const auto& [fixed, chosen] : mapped_ports()) platform::test::map_send_port(fixed, 0);
    if (game_socket_ >= 0) ::close(game_socket_);
    // Back to what the other script module tests expect.
    snapshot::queue_reset();
    core::echo_reset();
    sockets::traffic_state_reset();
    sockets::receive_dispatch = platform::real_recvfrom_function();
    core::process.operating_mode = 0;
    redirect::address_table_release();
    redirect::address_table_allocate();
    redirect::last_refresh_time = 0xF0000000u;
    platform::test::set_executable_path(nullptr);
  }

  // The library's fixed service ports and the endpoints' own.
  std::vector<std::pair<uint16_t, uint16_t>> mapped_ports() const {
    return {{redirect::lookup_port, service_.lookup.port()},
            {snapshot::upload_port, service_.web.port()},
            {snapshot::session_port, service_.responder.port()},
            {core::log_echo_port, service_.collector.port()}};
  }
  // On a port the system chooses, told to the server as its game port.
  bool open_game_socket() {
    if (game_socket_ >= 0) return true;
    game_socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof sa;
    if (game_socket_ < 0 || ::bind(game_socket_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::getsockname(game_socket_, reinterpret_cast<sockaddr*>(&sa), &length) != 0)
      return false;
    game_port_ = ntohs(sa.sin_port);
    return true;
  }
  // The game's recvfrom enters the library at the receive dispatch.
  bool receive_on_game_socket(int timeout_ms) {
    pollfd p{game_socket_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) != 1) return false;
    char buffer[1500];
    uint8_t from[16];
    int from_length = sizeof from;
    return sockets::receive_dispatch(static_cast<uintptr_t>(game_socket_), buffer, sizeof buffer, 0,
                                     from, &from_length) > 0;
  }

  server_flow::reference_service service_{server_flow::reference_service::ports::chosen};
  std::string executable_;
  int game_socket_ = -1;
  uint16_t game_port_ = 0;
};

TEST_F(ServerFlow, HandshakeExchangeSnapshotPlayerTokenLogAndCompanion) {
  server_flow::server s;
  s.eval = runtime_test::eval;
  s.exec = runtime_test::exec;
  s.answer = [](const std::string& key, const std::string& text) {
    runtime_test::set_answer(key, runtime_test::answer_kind::text, text);
  };
  s.console = [] {
    std::vector<std::string> given;
    given.swap(runtime_test::console_log());
    return given;
  };
  s.register_host = [] { return runtime_test::register_host("host"); };
  s.import_module = runtime_test::import_module;
  s.open_game_socket = [this] { return open_game_socket(); };
  s.receive_on_game_socket = [this](int timeout_ms) { return receive_on_game_socket(timeout_ms); };
  s.folder = runtime_test::runtime_folder();
  s.executable = executable_;
  s.game_port = game_port_;
  EXPECT_EQ(server_flow::run_for_test(s, service_), "");
}

}  // namespace
