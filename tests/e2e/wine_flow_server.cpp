// The flow's server under Wine.  Script lines may wait on the network (a
// lookup exchange takes up to about 3 s), so every one gets a long time-out.
#include "wine_flow_server.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "loopback_peer.h"

namespace e2e {
namespace {
constexpr int script_timeout_ms = 30000;
}

bool start_flow_server(hostsim& server) {
  hostsim plain;
  if (!plain.start(plain_dir())) return false;
  const std::string appdata = plain.command("appdata");
  plain.stop();
  if (appdata.rfind("ok ", 0) != 0) return false;
  std::error_code ec;
  for (const auto& entry :
       std::filesystem::directory_iterator(unix_path(appdata.substr(3) + "\\Ostrel"), ec))
    if (entry.path().filename().string().rfind("network_", 0) == 0)
      std::filesystem::remove(entry.path(), ec);
  clean_flow_server();
  return server.start(server_dir()) && server.command("py_start") == "ok";
}

server_flow::server flow_server(hostsim& server) {
  server_flow::server s;
  s.eval = [&server](const std::string& line) {
    return server.command("py " + line, script_timeout_ms);
  };
  s.exec = [&server](const std::string& line) {
    return server.command("pyx " + line, script_timeout_ms);
  };
  s.answer = [&server](const std::string& key, const std::string& text) {
    server.command("host_answer " + key + " text " + text);
  };
  s.console = [&server] {
    std::vector<std::string> given;
    const std::vector<std::string> w = words(server.command("host_commands"));
    for (size_t i = 1; i < w.size(); ++i) {
      const std::vector<uint8_t> bytes = w[i] == "-" ? std::vector<uint8_t>() : from_hex(w[i]);
      given.emplace_back(bytes.begin(), bytes.end());
    }
    server.command("host_commands_clear");
    return given;
  };
  s.register_host = [&server] { return server.command("host_register host") == "ok"; };
  s.import_module = [&server](const std::string& name) {
    return server.command("import " + name, script_timeout_ms);
  };
  auto game_socket = std::make_shared<std::string>();
  s.open_game_socket = [&server, game_socket] {
    const std::vector<std::string> w =
        words(server.command("udp " + std::to_string(server_flow::game_port)));
    if (w.size() != 3 || w[0] != "ok") return false;
    *game_socket = w[1];
    return true;
  };
  s.receive_on_game_socket = [&server, game_socket](int timeout_ms) {
    return server.command("recvfrom " + *game_socket + " " + std::to_string(timeout_ms),
                          timeout_ms + 5000)
               .rfind("ok ", 0) == 0;
  };
  s.folder = server_dir();
  s.executable = server_dir() + "/hostsim.exe";
  return s;
}

void clean_flow_server() {
  std::error_code ec;
  std::filesystem::remove_all(server_dir() + "/python", ec);
}

}  // namespace e2e
