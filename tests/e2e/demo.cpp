// The demo: ostrel.dll at work inside the stand-in host game under Wine,
// against the reference service on loopback.  It narrates each step and what
// came back, so a newcomer sees the whole system in one run.
#include <arpa/inet.h>

#include <cstdio>
#include <string>

#include "loopback_peer.h"
#include "wine_host.h"

namespace {

int failures = 0;

void step(const char* what) { std::printf("\n== %s\n", what); }

std::string show(e2e::hostsim& host, const std::string& command) {
  std::string answer = host.command(command);
  std::printf("  hostsim> %s\n  ostrel.dll answers: %s\n", command.c_str(), answer.c_str());
  if (answer.rfind("ok", 0) != 0) ++failures;
  return answer;
}

void forwarding(const char* label, const std::string& dir) {
  step(label);
  e2e::hostsim host;
  if (!host.start(dir)) {
    std::printf("  hostsim did not start in %s\n", dir.c_str());
    ++failures;
    return;
  }
  std::printf("  hostsim.exe started in %s (imports ostrel.dll in place of WS2_32.dll)\n",
              dir.c_str());
  show(host, "ordinals");

  e2e::udp_peer peer;
  peer.open();
  auto sock = e2e::words(show(host, "udp 0"));
  if (sock.size() < 3) return;
  std::string query = "fefd00" "01020304" "ff0000";  // a server query as the game sends it
  show(host, "sendto " + sock[1] + " 127.0.0.1 " + std::to_string(peer.port) + " " + query);
  std::vector<uint8_t> got;
  uint16_t from_port = 0;
  uint32_t from_address = 0;
  if (peer.receive(got, from_port, from_address)) {
    std::printf("  native peer on 127.0.0.1:%u received %zu bytes from port %u: %s\n", peer.port,
                got.size(), from_port, e2e::to_hex(got).c_str());
    peer.send_to(e2e::from_hex("00" "01020304" "686f73746e616d6500"), from_port);
    show(host, "recvfrom " + sock[1] + " 3000");
  } else {
    std::printf("  native peer received nothing\n");
    ++failures;
  }
  show(host, "resolve localhost");
}

}  // namespace

int main() {
  std::printf("Ostrel demo: ostrel.dll inside hostsim.exe under Wine\n");
  e2e::start_wine();
  forwarding("A game client forwards its traffic through ostrel.dll", e2e::client_dir());
  forwarding("A dedicated server (\"w32ded\" in its path) does the same", e2e::server_dir());
  e2e::stop_wine();
  std::printf("\n%s\n", failures ? "demo: something did not work (see above)" : "demo: all steps worked");
  return failures ? 1 : 0;
}
