// Datagram sockets of the reference service's UDP endpoints (lookup service,
// session responder): binding and sending, shared so both behave alike.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace service {

// A UDP socket bound to address:port (0: any free port, reported in
// *bound_port), close-on-exec; -1 when it cannot be made or bound.
int bind_udp(const std::string& address, uint16_t port, uint16_t* bound_port);
// Sends data to address (network byte order):port (host order).
void send_datagram(int s, const std::vector<uint8_t>& data, uint32_t address, uint16_t port);

}  // namespace service
