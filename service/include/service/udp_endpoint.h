// The reference endpoints' UDP sockets: bound on a loopback address, and one
// datagram sent to an IPv4 address.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace service {

// A close-on-exec datagram socket bound to address:port (0: any free port);
// *bound_port, when given, gets the port bound.  -1 when it cannot be bound.
int bind_udp(const std::string& address, uint16_t port, uint16_t* bound_port);
// address in network byte order, port in host order.
void send_datagram(int s, const std::vector<uint8_t>& data, uint32_t address, uint16_t port);

}  // namespace service
