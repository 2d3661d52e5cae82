// The demo: ostrel.dll at work inside the stand-in host game under Wine,
// against the reference service on loopback.  It narrates each step and what
// came back, so a newcomer sees the whole system in one run.
#include <arpa/inet.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "deploy_values.h"
#include "loopback_peer.h"
#include "game_peers.h"
#include "service/lookup_service.h"
#include "service/master_server.h"
#include "server_flow.h"
#include "wine_flow_server.h"
#include "wine_host.h"

namespace {

int failures = 0;

void step(const char* what) { std::printf("\n== %s\n", what); }

std::string show(e2e::hostsim& host, const std::string& command, const char* expect = "ok") {
  std::string answer = host.command(command);
  std::printf("  hostsim> %s\n          %s\n", command.c_str(), answer.c_str());
  if (answer.rfind(expect, 0) != 0) ++failures;
  return answer;
}

uint32_t ip(const char* text) {
  in_addr a{};
  inet_pton(AF_INET, text, &a);
  return a.s_addr;
}

bool start(e2e::hostsim& host, const std::string& dir) {
  if (host.start(dir)) {
    std::printf("  hostsim.exe started in %s\n", dir.c_str());
    return true;
  }
  std::printf("  hostsim did not start in %s\n", dir.c_str());
  ++failures;
  return false;
}

void forwarding(e2e::hostsim& host) {
  show(host, "ordinals");
  e2e::udp_peer peer;
  peer.open();
  auto sock = e2e::words(show(host, "udp 0"));
  if (sock.size() < 3) return;
  const std::string query = "fefd00" "01020304" "ff0000";  // a server query as the game sends it
  show(host, "sendto " + sock[1] + " 127.0.0.1 " + std::to_string(peer.port) + " " + query);
  std::vector<uint8_t> got;
  uint16_t from_port = 0;
  uint32_t from_address = 0;
  if (!peer.receive(got, from_port, from_address)) {
    std::printf("  the native peer received nothing\n");
    ++failures;
    return;
  }
  std::printf("  native peer 127.0.0.1:%u received from port %u: %s\n", peer.port, from_port,
              e2e::to_hex(got).c_str());
  peer.send_to(e2e::from_hex("00" "01020304" "686f73746e616d6500"), from_port);
  show(host, "recvfrom " + sock[1] + " 3000");
  show(host, "close " + sock[1]);
}

// A client opens its server-list connection: the ranked list comes from the
// reference master first, the connection reaches 28911, and server answers
// are corrected for servers outside the list.
void ranked_list(e2e::hostsim& plain, service::lookup_service& lookup) {
  e2e::game_server_peer listed, unlisted;
  listed.start(e2e::plain_query_answer("1"));
  unlisted.start(e2e::plain_query_answer("1"));
  lookup.map_name(deploy::master_host, {ip("127.0.0.1")});
  service::master_server master(
      service::make_ranked_keys(deploy::ranked_key_chain, deploy::ranked_mac_chain,
                                deploy::ranked_feedback),
      27900);
  master.set_servers({{ip("127.0.0.1"), listed.port(), 1}}, 29900);
  e2e::tcp_listener moved;
  if (!master.start() || !moved.open(28911)) {
    std::printf("  127.0.0.1:27900 or 127.0.0.1:28911 is in use\n");
    ++failures;
    return;
  }
  std::printf("  reference master on 127.0.0.1:27900 lists 127.0.0.1:%u as ranked;\n"
              "  %s -> 127.0.0.1 in the lookup table; registry serverBrowserMode = 1\n",
              listed.port(), deploy::master_host);
  plain.command("reg_set hkcu dword serverBrowserMode 1");
  e2e::hostsim client;
  if (start(client, e2e::client_dir())) {
    show(client, "connect_reached 127.0.0.1 28910", "ok");
    std::printf("  (the answer's last number is the port reached; the master saw %d list request "
                "and %d acknowledgements)\n",
                master.count(service::master_datagram::kind::list_request),
                master.count(service::master_datagram::kind::acknowledgement));
    auto sock = e2e::words(show(client, "udp 0"));
    if (sock.size() == 3) {
      std::printf("  a listed server answers \"bf2_ranked 1\": it arrives unchanged\n");
      show(client, "query " + sock[1] + " 127.0.0.1 " + std::to_string(listed.port()) + " 3000");
      std::printf("  an unlisted server answers the same: its 1 (31 00) arrives as 0 (30 00)\n");
      show(client, "query " + sock[1] + " 127.0.0.1 " + std::to_string(unlisted.port()) + " 3000");
    }
  }
  plain.command("reg_delete hkcu serverBrowserMode");
}

// A dedicated server's heartbeat reaches the master and, through "gsqr_mstr"
// in its settings file, a copy reaches the forward address.
void heartbeat_copy() {
  e2e::udp_peer master, forward;
  if (!master.open(27900) || !forward.open()) {
    std::printf("  127.0.0.1:27900 is in use\n");
    ++failures;
    return;
  }
  const std::string settings = e2e::server_dir() + "/ostrel_hostsim.exe.cfg";
  if (FILE* f = std::fopen(settings.c_str(), "w")) {
    std::fprintf(f, "gsqr_mstr = 127.0.0.1:%u\r\n", forward.port);
    std::fclose(f);
  }
  std::printf("  settings file: gsqr_mstr = 127.0.0.1:%u\n", forward.port);
  e2e::hostsim server;
  if (start(server, e2e::server_dir())) {
    auto sock = e2e::words(show(server, "udp 0"));
    const std::string heartbeat = "0301020304" "6c6f63616c69703000" "3132372e302e302e3100";
    if (sock.size() == 3) show(server, "sendto " + sock[1] + " 127.0.0.1 27900 " + heartbeat);
    std::vector<uint8_t> got;
    uint16_t from_port = 0;
    uint32_t from_address = 0;
    const bool at_master = master.receive(got, from_port, from_address, 3000);
    const bool copied = forward.receive(got, from_port, from_address, 3000);
    std::printf("  master received it: %s; forward address received a copy: %s\n",
                at_master ? "yes" : "no", copied ? "yes" : "no");
    if (!at_master || !copied) ++failures;
  }
  std::remove(settings.c_str());
}

// The dedicated server's script module, the flow the end-to-end tier checks:
// every script line and answer, and what the reference service saw.
void script_module_flow() {
  server_flow::reference_service service;
  std::string why;
  if (!service.start(&why)) {
    std::printf("  %s\n", why.c_str());
    ++failures;
    return;
  }
  std::printf("  reference lookup (29960), statistics web server (80), session responder (29950)\n"
              "  and log collector (29951) on 127.0.0.1; provider ID %s in %s\n",
              server_flow::provider_id, server_flow::provider_file);
  e2e::hostsim server;
  if (!e2e::start_flow_server(server)) {
    std::printf("  hostsim's server copy or its runtime did not start\n");
    ++failures;
    return;
  }
  server_flow::server s = e2e::flow_server(server);
  const std::vector<std::string> failed = server_flow::run(s, service, [](const std::string& line) {
    std::printf("%s%s\n", line.rfind("== ", 0) == 0 ? "\n" : "", line.c_str());
  });
  for (const std::string& f : failed) std::printf("  did not work: %s\n", f.c_str());
  failures += static_cast<int>(failed.size());
  server.stop();
  service.stop();
  e2e::clean_flow_server();
}

}  // namespace

int main() {
  std::printf("Ostrel demo: ostrel.dll inside hostsim.exe under Wine, reference service on loopback\n");
  if (!e2e::wine_runs()) {
    std::printf("Wine cannot run 32-bit programs on this machine, so the demo cannot run here.\n"
                "ostrel.dll is built in build/dll; run the demo on a machine with 32-bit support.\n"
                "The dedicated server's script module flow also runs natively, inside a natively\n"
                "built Python 2 runtime, in the unit tier of bash scripts/test.sh\n"
                "(ctest -R script_runtime in a native build).\n");
    return 1;
  }
  e2e::start_wine();

  service::lookup_service lookup(deploy::lookup_chain, 29960);
  lookup.map_name(deploy::retired_stats_host, {ip("127.0.0.11")});
  lookup.map_name(deploy::retired_push_host, {ip("127.0.0.12")});
  lookup.map_name(deploy::ranking_host_official, {ip("127.0.0.13")});
  lookup.map_name(deploy::ranking_host_fmrcq, {ip("127.0.0.14")});
  if (!lookup.start()) {
    std::printf("the lookup service cannot bind 127.0.0.1:29960 (in use?)\n");
    return 1;
  }
  std::printf("reference lookup service on 127.0.0.1:29960 maps:\n"
              "  %s -> 127.0.0.11\n  %s -> 127.0.0.12\n  %s -> 127.0.0.13\n  %s -> 127.0.0.14\n",
              deploy::retired_stats_host, deploy::retired_push_host, deploy::ranking_host_official,
              deploy::ranking_host_fmrcq);

  e2e::hostsim plain;  // WS2_32 itself: sets registry values, shows real answers
  start(plain, e2e::plain_dir());
  plain.command("reg_delete hkcu rkgRetail");
  plain.command("reg_delete hkcu client_opmode");

  step("A game client: ostrel.dll forwards its traffic unchanged");
  {
    e2e::hostsim client;
    if (start(client, e2e::client_dir())) {
      forwarding(client);

      step("The client resolves the retired service's names from the lookup service's table");
      show(client, std::string("resolve ") + deploy::retired_stats_host);
      std::printf("  (the lookup service has had %d request: the first look-up fetched the table)\n",
                  lookup.requests());
      show(client, std::string("resolve ") + deploy::retired_push_host);
      std::printf("  (still %d request: the table is fetched at most every 300 s)\n",
                  lookup.requests());

      step("The statistics web host goes to the ranking host the registry chooses");
      show(client, std::string("resolve ") + deploy::retired_stats_web_host);
      plain.command("reg_set hkcu sz rkgRetail fmrcq");
      std::printf("  registry rkgRetail = fmrcq\n");
      show(client, std::string("resolve ") + deploy::retired_stats_web_host);
      plain.command("reg_delete hkcu rkgRetail");

      step("Other names under the retired domain get the replacement domain");
      std::printf("  master.legacy.test is not in the table: the real resolver is asked for "
                  "master.relay.test,\n  which this machine does not know (11001: host not found;"
                  " 11002 where it has no name server)\n");
      show(client, "resolve master.legacy.test", "err 1100");
      show(client, "resolve localhost");
    }
  }

  const std::string appdata = plain.command("appdata");
  const std::string folder =
      appdata.rfind("ok ", 0) == 0 ? e2e::unix_path(appdata.substr(3) + "\\Ostrel") : "";
  if (!folder.empty()) {
    step("The client cached the table in its per-user folder");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
      std::printf("  %s (%ju bytes)\n", entry.path().filename().c_str(),
                  static_cast<uintmax_t>(entry.file_size()));
  }

  step("A client refreshes its ranked list when it opens the server-list connection");
  ranked_list(plain, lookup);

  step("A dedicated server (\"w32ded\" in its path) forwards and redirects the same way");
  {
    e2e::hostsim server;
    if (start(server, e2e::server_dir())) {
      forwarding(server);
      show(server, std::string("resolve ") + deploy::retired_stats_host);
    }
  }

  step("A dedicated server's heartbeat is copied to the forward address");
  heartbeat_copy();

  plain.stop();
  lookup.stop();

  step("A dedicated server's script module, from the handshake to the companion package");
  script_module_flow();

  e2e::stop_wine();
  std::printf("\n%s\n", failures ? "demo: something did not work (see above)" : "demo: all steps worked");
  return failures ? 1 : 0;
}
