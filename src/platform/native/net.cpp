// Native datagram helpers on BSD sockets, so unit tests exchange real
// datagrams with reference service pieces on loopback.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "platform/native/seam_calls.h"
#include "platform/native/test_controls.h"

namespace platform {
namespace {
constexpr int port_map_size = 8;
std::mutex controls_guard;
uint16_t mapped_from[port_map_size] = {};
uint16_t mapped_to[port_map_size] = {};
std::function<void()> wait_hook;
std::vector<uint32_t> resolved_addresses;
test::stream_receive_fn stream_receive;
test::stream_send_fn stream_send;
std::map<socket_handle, test::socket_fault> socket_faults;
// The socket library's references as Windows counts them: the library's own,
// and the sockets it opened that a last cleanup would take away.
int library_references = 0;
std::set<socket_handle> open_sockets;

void opened(socket_handle s) {
  if (s == invalid_socket) return;
  std::lock_guard<std::mutex> hold(controls_guard);
  open_sockets.insert(s);
}

// Why the calling thread's last failed helper call failed.
thread_local test::socket_fault last_fault = test::socket_fault::none;

void run_wait_hook() {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> hold(controls_guard);
    hook = wait_hook;
  }
  if (hook) hook();
}

// A fault a test set for s: the call fails with it and reaches no socket.
bool faulted(socket_handle s) {
  std::lock_guard<std::mutex> hold(controls_guard);
  auto it = socket_faults.find(s);
  if (it == socket_faults.end()) return false;
  last_fault = it->second;
  return true;
}

// The native errors that mean what the Windows pair means: no such socket.
int failed() {
  last_fault = errno == EBADF || errno == ENOTSOCK ? test::socket_fault::not_a_socket
                                                   : test::socket_fault::other;
  return -1;
}

uint16_t mapped_port(uint16_t port) {
  std::lock_guard<std::mutex> hold(controls_guard);
  for (int i = 0; i < port_map_size; ++i)
    if (mapped_from[i] == port && mapped_to[i] != 0) return mapped_to[i];
  return port;
}
}  // namespace

int winsock_reference() {
  seam_calls::note("winsock_reference");
  std::lock_guard<std::mutex> hold(controls_guard);
  ++library_references;
  return 0;
}

socket_handle udp_open() {
  seam_calls::note("udp_open");
  int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  const socket_handle h = s < 0 ? invalid_socket : static_cast<socket_handle>(s);
  opened(h);
  return h;
}

void socket_close(socket_handle s) {
  seam_calls::note("socket_close");
  if (s == invalid_socket) return;
  {
    std::lock_guard<std::mutex> hold(controls_guard);
    open_sockets.erase(s);
  }
  ::close(static_cast<int>(s));
}

int udp_send_to(socket_handle s, const void* data, size_t length, uint32_t address,
                uint16_t port) {
  seam_calls::note("udp_send_to");
  if (faulted(s)) return -1;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(mapped_port(port));
  to.sin_addr.s_addr = address;
  ssize_t n = ::sendto(static_cast<int>(s), data, length, 0, reinterpret_cast<sockaddr*>(&to),
                       sizeof to);
  return n < 0 ? failed() : static_cast<int>(n);
}

int wait_readable(socket_handle s, uint32_t timeout_ms) {
  seam_calls::note("wait_readable");
  run_wait_hook();
  if (faulted(s)) return -1;
  pollfd p{static_cast<int>(s), POLLIN, 0};
  int n = ::poll(&p, 1, static_cast<int>(timeout_ms));
  if (n < 0) return failed();
  if (n > 0 && (p.revents & POLLNVAL)) {
    errno = EBADF;
    return failed();
  }
  return n > 0 ? 1 : 0;
}

int udp_receive_from(socket_handle s, void* buffer, size_t size, uint32_t* address,
                     uint16_t* port, int* ipv4) {
  seam_calls::note("udp_receive_from");
  if (faulted(s)) return -1;
  sockaddr_storage from{};
  socklen_t from_length = sizeof from;
  ssize_t n = ::recvfrom(static_cast<int>(s), buffer, size, 0,
                         reinterpret_cast<sockaddr*>(&from), &from_length);
  if (n < 0) return failed();
  *ipv4 = 0;
  *address = 0;
  *port = 0;
  if (from_length == sizeof(sockaddr_in) && from.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&from);
    *ipv4 = 1;
    *address = in->sin_addr.s_addr;
    *port = ntohs(in->sin_port);
  }
  return static_cast<int>(n);
}

socket_handle tcp_open() {
  seam_calls::note("tcp_open");
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const socket_handle h = s < 0 ? invalid_socket : static_cast<socket_handle>(s);
  opened(h);
  return h;
}

int tcp_connect(socket_handle s, uint32_t address, uint16_t port) {
  seam_calls::note("tcp_connect");
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(mapped_port(port));
  to.sin_addr.s_addr = address;
  if (::connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) return 0;
  if (errno == EINPROGRESS) return stream_in_progress;
  return errno > 0 ? errno : 1;
}

int wait_writable(socket_handle s, uint32_t timeout_ms) {
  seam_calls::note("wait_writable");
  run_wait_hook();
  pollfd p{static_cast<int>(s), POLLOUT, 0};
  int n = ::poll(&p, 1, static_cast<int>(timeout_ms));
  if (n < 0) return -1;
  return n > 0 ? 1 : 0;
}

int tcp_connect_result(socket_handle s) {
  seam_calls::note("tcp_connect_result");
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
    return errno > 0 ? errno : 1;
  return error;
}

int tcp_send(socket_handle s, const void* data, size_t length) {
  seam_calls::note("tcp_send");
  if (faulted(s)) return -1;
  test::stream_send_fn fake;
  {
    std::lock_guard<std::mutex> hold(controls_guard);
    fake = stream_send;
  }
  if (fake) return fake(s, data, length);
  ssize_t n = ::send(static_cast<int>(s), data, length, MSG_NOSIGNAL);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : failed();
  return static_cast<int>(n);
}

int tcp_receive(socket_handle s, void* buffer, size_t size) {
  seam_calls::note("tcp_receive");
  if (faulted(s)) return -1;
  test::stream_receive_fn fake;
  {
    std::lock_guard<std::mutex> hold(controls_guard);
    fake = stream_receive;
  }
  if (fake) return fake(s, buffer, size);
  ssize_t n = ::recv(static_cast<int>(s), buffer, size, 0);
  return n < 0 ? failed() : static_cast<int>(n);
}

bool socket_handle_lost() {
  return last_fault == test::socket_fault::not_initialised ||
         last_fault == test::socket_fault::not_a_socket;
}

int socket_local_port(socket_handle s, uint16_t* port) {
  seam_calls::note("socket_local_port");
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (::getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
      local.ss_family != AF_INET)
    return 1;
  *port = ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
  return 0;
}

int resolve_ipv4(const char* host, uint32_t* out, int max) {
  seam_calls::note("resolve_ipv4", host);
  {
    std::lock_guard<std::mutex> hold(controls_guard);
    if (!resolved_addresses.empty()) {
      int count = 0;
      for (uint32_t a : resolved_addresses)
        if (count < max) out[count++] = a;
      return count;
    }
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host, "80", &hints, &list) != 0) return 0;
  int count = 0;
  for (addrinfo* a = list; a && count < max; a = a->ai_next) {
    if (a->ai_family != AF_INET) continue;
    out[count++] = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
  }
  ::freeaddrinfo(list);
  return count;
}

namespace {
int bsd_recvfrom(uintptr_t s, char* buffer, int length, int flags, void* from, int* from_length) {
  socklen_t n = from_length ? static_cast<socklen_t>(*from_length) : 0;
  ssize_t r = ::recvfrom(static_cast<int>(s), buffer, length < 0 ? 0 : static_cast<size_t>(length),
                         flags, static_cast<sockaddr*>(from), from_length ? &n : nullptr);
  if (from_length) *from_length = static_cast<int>(n);
  return r < 0 ? -1 : static_cast<int>(r);
}
int bsd_sendto(uintptr_t s, const char* buffer, int length, int flags, const void* to,
               int to_length) {
  ssize_t r = ::sendto(static_cast<int>(s), buffer, length < 0 ? 0 : static_cast<size_t>(length),
                       flags, static_cast<const sockaddr*>(to), static_cast<socklen_t>(to_length));
  return r < 0 ? -1 : static_cast<int>(r);
}
std::atomic<recvfrom_fn> recv_override{nullptr};
std::atomic<sendto_fn> send_override{nullptr};
int routed_recvfrom(uintptr_t s, char* b, int l, int f, void* from, int* fl) {
  seam_calls::note("recvfrom");
  recvfrom_fn fn = recv_override.load();
  return fn ? fn(s, b, l, f, from, fl) : bsd_recvfrom(s, b, l, f, from, fl);
}
int routed_sendto(uintptr_t s, const char* b, int l, int f, const void* to, int tl) {
  seam_calls::note("sendto");
  sendto_fn fn = send_override.load();
  return fn ? fn(s, b, l, f, to, tl) : bsd_sendto(s, b, l, f, to, tl);
}
}  // namespace

recvfrom_fn real_recvfrom_function() { return routed_recvfrom; }
sendto_fn real_sendto_function() { return routed_sendto; }

namespace {
// Natively no name reaches the machine's resolver: tests decide what the
// "real" gethostbyname answers, and by default it knows no name at all.
void* unknown_host(const char*) { return nullptr; }
std::atomic<gethostbyname_fn> gethostbyname_override{nullptr};
void* routed_gethostbyname(const char* name) {
  seam_calls::note("gethostbyname", name);
  gethostbyname_fn fn = gethostbyname_override.load();
  return fn ? fn(name) : unknown_host(name);
}
}  // namespace

gethostbyname_fn real_gethostbyname_function() { return routed_gethostbyname; }

uint32_t ipv4_from_text(const char* text) {
  seam_calls::note("ipv4_from_text");
  return ::inet_addr(text);
}

namespace test {
void set_wait_hook(std::function<void()> hook) {
  std::lock_guard<std::mutex> hold(controls_guard);
  wait_hook = std::move(hook);
}
void set_stream_receive(stream_receive_fn fn) {
  std::lock_guard<std::mutex> hold(controls_guard);
  stream_receive = std::move(fn);
}
void set_stream_send(stream_send_fn fn) {
  std::lock_guard<std::mutex> hold(controls_guard);
  stream_send = std::move(fn);
}
void set_resolved_addresses(const std::vector<uint32_t>& addresses) {
  std::lock_guard<std::mutex> hold(controls_guard);
  resolved_addresses = addresses;
}
void map_send_port(uint16_t from, uint16_t to) {
  std::lock_guard<std::mutex> hold(controls_guard);
  int free_slot = -1;
  for (int i = 0; i < port_map_size; ++i) {
    if (mapped_from[i] == from) {
      mapped_to[i] = to;
      return;
    }
    if (free_slot < 0 && mapped_to[i] == 0) free_slot = i;
  }
  if (free_slot >= 0 && to != 0) {
    mapped_from[free_slot] = from;
    mapped_to[free_slot] = to;
  }
}
void set_socket_fault(socket_handle s, socket_fault fault) {
  std::lock_guard<std::mutex> hold(controls_guard);
  if (fault == socket_fault::none)
    socket_faults.erase(s);
  else
    socket_faults[s] = fault;
}
void clear_socket_faults() {
  std::lock_guard<std::mutex> hold(controls_guard);
  socket_faults.clear();
}
int winsock_references() {
  std::lock_guard<std::mutex> hold(controls_guard);
  return library_references;
}
void forget_winsock_references() {
  std::lock_guard<std::mutex> hold(controls_guard);
  library_references = 0;
}
void host_winsock_cleanup() {
  std::lock_guard<std::mutex> hold(controls_guard);
  if (library_references > 0) return;
  for (socket_handle s : open_sockets) socket_faults[s] = socket_fault::not_initialised;
}
void set_real_recvfrom(recvfrom_fn fn) { recv_override = fn; }
void set_real_sendto(sendto_fn fn) { send_override = fn; }
void set_real_gethostbyname(gethostbyname_fn fn) { gethostbyname_override = fn; }
}  // namespace test

}  // namespace platform
