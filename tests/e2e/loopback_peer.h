// Native sockets on 127.0.0.1 that play the far side of hostsim's traffic.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct udp_peer {
  int fd = -1;
  uint16_t port = 0;
  bool open(uint16_t fixed_port = 0);  // 0: any free port
  void close();
  // Waits for one datagram; false on time-out.
  bool receive(std::vector<uint8_t>& data, uint16_t& from_port, uint32_t& from_address,
               int timeout_ms = 5000);
  bool send_to(const std::vector<uint8_t>& data, uint16_t port);
  ~udp_peer() { close(); }
};

struct tcp_listener {
  int fd = -1;
  uint16_t port = 0;
  bool open(uint16_t fixed_port = 0);  // 0: any free port
  int accept_one(int timeout_ms = 5000);  // connected fd or -1
  ~tcp_listener();
};

int tcp_connect_loopback(uint16_t port);
bool send_all(int fd, const std::vector<uint8_t>& data);
bool receive_exactly(int fd, std::vector<uint8_t>& data, size_t count, int timeout_ms = 5000);

std::string to_hex(const std::vector<uint8_t>& data);
std::vector<uint8_t> from_hex(const std::string& text);
std::vector<uint8_t> pattern_bytes(size_t count, uint32_t seed);

}  // namespace e2e
