// Fake real sendto and recvfrom for the interception tests: the fake receive
// hands out a prepared datagram and source address, the fake send records
// every call.  Process-wide, since the library reaches them through plain
// function pointers.
#pragma once
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/bytes.h"

namespace interception_test {

struct sent {
  uintptr_t s;
  std::vector<uint8_t> data;
  std::vector<uint8_t> to;
};

inline std::mutex guard;
inline std::vector<sent> sends;
inline std::vector<uint8_t> next_datagram;
inline std::vector<uint8_t> next_from(16, 0);

inline int fake_sendto(uintptr_t s, const char* buffer, int length, int, const void* to,
                       int to_length) {
  std::lock_guard<std::mutex> hold(guard);
  const auto* t = static_cast<const uint8_t*>(to);
  sends.push_back({s, std::vector<uint8_t>(buffer, buffer + length),
                   t ? std::vector<uint8_t>(t, t + to_length) : std::vector<uint8_t>()});
  return length;
}

inline int fake_recvfrom(uintptr_t, char* buffer, int length, int, void* from, int* from_length) {
  std::lock_guard<std::mutex> hold(guard);
  const int n = static_cast<int>(next_datagram.size()) < length ? static_cast<int>(next_datagram.size())
                                                                : length;
  std::memcpy(buffer, next_datagram.data(), static_cast<size_t>(n));
  if (from && from_length && *from_length >= 16) {
    std::memcpy(from, next_from.data(), 16);
    *from_length = 16;
  }
  return n;
}

// A 16-byte IPv4 socket address.
inline std::vector<uint8_t> socket_address(uint32_t address, uint16_t port) {
  std::vector<uint8_t> sa(16, 0);
  sa[0] = 2;
  bytes::store_u16be(sa.data() + 2, port);
  std::memcpy(sa.data() + 4, &address, 4);
  return sa;
}

}  // namespace interception_test
