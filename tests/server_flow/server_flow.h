// A dedicated server's whole flow against the reference service on loopback:
// the script module's handshake, session exchange, snapshot upload, player
// token and log echo, and the companion package.  One flow, three drivers: the
// Wine end-to-end tier and the demo drive hostsim's server copy, the native
// script runtime tier drives the library inside a natively built interpreter.
// Each driver says how to run a script line and reach the game socket; the
// flow checks every answer and what the service received.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "service/log_collector.h"
#include "service/lookup_service.h"
#include "service/session_responder.h"
#include "service/stats_http_server.h"

namespace server_flow {

inline constexpr uint16_t game_port = 16567;
inline constexpr uint16_t query_port = 29900;
inline constexpr char provider_id[] = "PROV-flow-2718";
// Relative to the server's working folder; the third place the library looks.
inline constexpr char provider_file[] = "python/bf2/stats/ostrelProviderID.sec";

// The dedicated server the flow drives.
struct server {
  // An expression: "ok <repr>" or "exc <type> <text>".
  std::function<std::string(const std::string&)> eval;
  // One line of statements: "ok" or "exc <type> <text>".
  std::function<std::string(const std::string&)> exec;
  // What the host module answers: key "mod" for the mod directory, else a
  // console variable name; always a text.
  std::function<void(const std::string& key, const std::string& text)> answer;
  // The console commands the host module was given since the last call.
  std::function<std::vector<std::string>()> console;
  // Registers the host's own module, as the game does at start-up.
  std::function<bool()> register_host;
  // The host's import of a module, through the library's import hook.
  std::function<std::string(const std::string&)> import_module;
  // Opens the game's UDP socket on 127.0.0.1:game_port.
  std::function<bool()> open_game_socket;
  // Receives one datagram on it, the way the game does (through the library).
  std::function<bool(int timeout_ms)> receive_on_game_socket;

  std::string folder;      // the server's working folder
  std::string executable;  // the executable file the server was started from
  // The game port the server is told (sv.serverPort) and its socket is bound to.
  uint16_t game_port = server_flow::game_port;
};

// The reference endpoints the server meets on loopback.  A server in a process
// of its own (hostsim under Wine) meets them on their fixed ports: lookup
// 29960, statistics web server 80, session responder 29950, log collector
// 29951.  The library in the test's own process meets them on ports the
// system chose, its fixed ports mapped there by the native platform.
struct reference_service {
  enum class ports { fixed, chosen };
  explicit reference_service(ports where = ports::fixed);
  bool start(std::string* why);
  void stop();

  service::lookup_service lookup;
  service::stats_http_server web;
  service::session_responder responder;
  service::log_collector collector;
};

// Lays out the provider ID file and the host's answers of the flow, and has
// the scripts call gpaInit; its answer ("ok True").
std::string identify(server& s);

// Tells each step's title ("== ..."), each script line with its answer and
// each thing the service saw; the demo prints it, the tests may ignore it.
using narrator = std::function<void(const std::string&)>;

// Runs the flow; what failed, one line each (empty when every step worked).
std::vector<std::string> run(server& s, reference_service& service, const narrator& tell);

// Runs the flow for a test: "" when every step worked, else what failed and
// the whole story of the run.
std::string run_for_test(server& s, reference_service& service);

// MD5 of a file's bytes (OpenSSL's, not the library's); zeros' digest when unreadable.
std::vector<uint8_t> file_md5(const std::string& path);
// A Python 2 string literal holding exactly these bytes.
std::string python_bytes(const std::vector<uint8_t>& bytes);

// A player's connection packet as the game client sends it to the server's
// game port (the kind-word form): the slot, name, profile id and a 24-byte proof.
std::vector<uint8_t> player_connection_packet(uint16_t slot, const std::string& name,
                                              uint32_t profile, const std::string& proof);

}  // namespace server_flow
