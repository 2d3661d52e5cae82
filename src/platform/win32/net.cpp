// The library's own datagram helpers on the real WS2_32 functions, bound by
// ordinal (and getaddrinfo by name) through the DLL's import table.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/net.h"

namespace platform {

int winsock_reference() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0 ? 0 : 1;
}

socket_handle udp_open() {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  return s == INVALID_SOCKET ? invalid_socket : static_cast<socket_handle>(s);
}

void socket_close(socket_handle s) {
  if (s != invalid_socket) closesocket(static_cast<SOCKET>(s));
}

int udp_send_to(socket_handle s, const void* data, size_t length, uint32_t address,
                uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = address;
  int n = sendto(static_cast<SOCKET>(s), static_cast<const char*>(data), static_cast<int>(length),
                 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return n == SOCKET_ERROR ? -1 : n;
}

int wait_readable(socket_handle s, uint32_t timeout_ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(static_cast<SOCKET>(s), &readable);
  timeval tv{static_cast<long>(timeout_ms / 1000), static_cast<long>((timeout_ms % 1000) * 1000)};
  int n = select(0, &readable, nullptr, nullptr, &tv);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 ? 1 : 0;
}

int udp_receive_from(socket_handle s, void* buffer, size_t size, uint32_t* address,
                     uint16_t* port, int* ipv4) {
  sockaddr_storage from{};
  int from_length = sizeof from;
  int n = recvfrom(static_cast<SOCKET>(s), static_cast<char*>(buffer), static_cast<int>(size), 0,
                   reinterpret_cast<sockaddr*>(&from), &from_length);
  if (n == SOCKET_ERROR) return -1;
  *ipv4 = 0;
  *address = 0;
  *port = 0;
  if (from_length == sizeof(sockaddr_in) && from.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&from);
    *ipv4 = 1;
    *address = in->sin_addr.s_addr;
    *port = ntohs(in->sin_port);
  }
  return n;
}

socket_handle tcp_open() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return invalid_socket;
  u_long non_blocking = 1;
  if (ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
    closesocket(s);
    return invalid_socket;
  }
  return static_cast<socket_handle>(s);
}

int tcp_connect(socket_handle s, uint32_t address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = address;
  if (connect(static_cast<SOCKET>(s), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
    return 0;
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return stream_in_progress;
  return error > 0 ? error : 1;
}

// A non-blocking connect that fails is reported in the exception set, not the
// write set (Microsoft's documentation of connect and select).
int wait_writable(socket_handle s, uint32_t timeout_ms) {
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(static_cast<SOCKET>(s), &writable);
  FD_SET(static_cast<SOCKET>(s), &failed);
  timeval tv{};
  tv.tv_sec = static_cast<long>(timeout_ms / 1000);
  tv.tv_usec = static_cast<long>((timeout_ms % 1000) * 1000);
  int n = select(0, nullptr, &writable, &failed, &tv);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 ? 1 : 0;
}

int tcp_connect_result(socket_handle s) {
  int error = 0;
  int length = sizeof error;
  if (getsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                 &length) != 0) {
    const int failure = WSAGetLastError();
    return failure > 0 ? failure : 1;
  }
  return error;
}

int tcp_send(socket_handle s, const void* data, size_t length) {
  int n = send(static_cast<SOCKET>(s), static_cast<const char*>(data), static_cast<int>(length), 0);
  if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
  return n;
}

int tcp_receive(socket_handle s, void* buffer, size_t size) {
  int n = recv(static_cast<SOCKET>(s), static_cast<char*>(buffer), static_cast<int>(size), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

bool socket_handle_lost() {
  const int error = WSAGetLastError();
  return error == WSANOTINITIALISED || error == WSAENOTSOCK;
}

int socket_local_port(socket_handle s, uint16_t* port) {
  sockaddr_storage local{};
  int length = sizeof local;
  if (getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
      local.ss_family != AF_INET)
    return 1;
  *port = ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
  return 0;
}

int resolve_ipv4(const char* host, uint32_t* out, int max) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* list = nullptr;
  if (getaddrinfo(host, "80", &hints, &list) != 0) return 0;
  int count = 0;
  for (addrinfo* a = list; a && count < max; a = a->ai_next) {
    if (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in)) continue;
    out[count++] = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
  }
  freeaddrinfo(list);
  return count;
}

uint32_t ipv4_from_text(const char* text) { return inet_addr(text); }

recvfrom_fn real_recvfrom_function() { return reinterpret_cast<recvfrom_fn>(&::recvfrom); }
sendto_fn real_sendto_function() { return reinterpret_cast<sendto_fn>(&::sendto); }

namespace {
// A call rather than a cast of ::gethostbyname, so the pointer's type matches
// the function it reaches; the error state is left as WS2_32 set it.
void* OSTREL_SOCKAPI call_real_gethostbyname(const char* name) { return ::gethostbyname(name); }
}  // namespace

gethostbyname_fn real_gethostbyname_function() { return call_real_gethostbyname; }

}  // namespace platform
