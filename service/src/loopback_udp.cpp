// Datagram helpers of the service endpoints.
#include "loopback_udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace service {

int bind_udp(const std::string& address, uint16_t port, uint16_t* bound_port) {
  // Close-on-exec: a hostsim started from the same process must not inherit
  // (and keep bound) the service's port.
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1 ||
      ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(s);
    return -1;
  }
  socklen_t len = sizeof sa;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
  if (bound_port) *bound_port = ntohs(sa.sin_port);
  return s;
}

void send_datagram(int s, const std::vector<uint8_t>& data, uint32_t address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = address;
  ::sendto(s, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

}  // namespace service
