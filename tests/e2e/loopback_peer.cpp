// Loopback peers for the end-to-end tests.
#include "loopback_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace e2e {
namespace {
sockaddr_in loopback(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}
uint16_t bound_port(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}
bool wait_in(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeout_ms) > 0;
}
}  // namespace

bool udp_peer::open(uint16_t fixed_port) {
  fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa = loopback(fixed_port);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return false;
  port = bound_port(fd);
  return true;
}

void udp_peer::close() {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool udp_peer::receive(std::vector<uint8_t>& data, uint16_t& from_port, uint32_t& from_address,
                       int timeout_ms) {
  if (!wait_in(fd, timeout_ms)) return false;
  data.resize(65536);
  sockaddr_in from{};
  socklen_t len = sizeof from;
  ssize_t n = recvfrom(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) return false;
  data.resize(static_cast<size_t>(n));
  from_port = ntohs(from.sin_port);
  from_address = from.sin_addr.s_addr;
  return true;
}

bool udp_peer::send_to(const std::vector<uint8_t>& data, uint16_t to_port) {
  sockaddr_in to = loopback(to_port);
  return sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(data.size());
}

bool tcp_listener::open(uint16_t fixed_port) {
  fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa = loopback(fixed_port);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 4) != 0)
    return false;
  port = bound_port(fd);
  return true;
}

int tcp_listener::accept_one(int timeout_ms) {
  if (!wait_in(fd, timeout_ms)) return -1;
  return accept(fd, nullptr, nullptr);
}

tcp_listener::~tcp_listener() {
  if (fd >= 0) ::close(fd);
}

int tcp_connect_loopback(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa = loopback(port);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

bool send_all(int fd, const std::vector<uint8_t>& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = send(fd, data.data() + done, data.size() - done, 0);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool receive_exactly(int fd, std::vector<uint8_t>& data, size_t count, int timeout_ms) {
  data.clear();
  while (data.size() < count) {
    if (!wait_in(fd, timeout_ms)) return false;
    uint8_t buf[4096];
    size_t want = count - data.size() < sizeof buf ? count - data.size() : sizeof buf;
    ssize_t n = recv(fd, buf, want, 0);
    if (n <= 0) return false;
    data.insert(data.end(), buf, buf + n);
  }
  return true;
}

std::string to_hex(const std::vector<uint8_t>& data) {
  static const char digits[] = "0123456789abcdef";
  if (data.empty()) return "-";
  std::string s;
  for (uint8_t b : data) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

std::vector<uint8_t> from_hex(const std::string& text) {
  std::vector<uint8_t> out;
  if (text == "-") return out;
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return out;
}

std::vector<uint8_t> pattern_bytes(size_t count, uint32_t seed) {
  std::vector<uint8_t> out(count);
  for (auto& b : out) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return out;
}

}  // namespace e2e
