// hostsim: a stand-in for the host game.  A 32-bit console program that calls
// Windows Sockets the way the game does, driven one command a line on standard
// input, answering one line each ("ok ..." or "err ...").  Built twice: once
// importing ostrel.dll, once plain against WS2_32.dll for comparison.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "hex.h"

namespace {

void answer(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string err_code() { return "err " + std::to_string(WSAGetLastError()); }

std::string ip_text(const void* address) {
  const unsigned char* b = static_cast<const unsigned char*>(address);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
         std::to_string(b[3]);
}

bool parse_ip(const std::string& text, in_addr* out) {
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255) return false;
  unsigned char* p = reinterpret_cast<unsigned char*>(&out->s_addr);
  p[0] = static_cast<unsigned char>(a);
  p[1] = static_cast<unsigned char>(b);
  p[2] = static_cast<unsigned char>(c);
  p[3] = static_cast<unsigned char>(d);
  return true;
}

sockaddr_in endpoint(const in_addr& address, unsigned port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<u_short>(port));
  sa.sin_addr = address;
  return sa;
}

int wait_readable(SOCKET s, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &tv);
}

// Each call with arguments that the real library must refuse; the result and
// the last-error value are what the plain copy and the ostrel copy compare.
std::string invalid_battery() {
  std::string out = "ok";
  char buf[16] = {};
  sockaddr_in sa = endpoint(in_addr{}, 9);
  int len = sizeof sa;
  u_long arg = 1;
  DWORD returned = 0;
  timeval zero{0, 0};
  auto note = [&](const char* name, long result) {
    out += " " + std::string(name) + "=" + std::to_string(result) + "/" +
           std::to_string(WSAGetLastError());
    WSASetLastError(0);
  };
  WSASetLastError(0);
  note("send", send(INVALID_SOCKET, buf, 1, 0));
  note("recv", recv(INVALID_SOCKET, buf, 1, 0));
  note("sendto", sendto(INVALID_SOCKET, buf, 1, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  note("recvfrom", recvfrom(INVALID_SOCKET, buf, 1, 0, reinterpret_cast<sockaddr*>(&sa), &len));
  note("bind", bind(INVALID_SOCKET, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  note("connect", connect(INVALID_SOCKET, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  note("listen", listen(INVALID_SOCKET, 1));
  note("accept", static_cast<long>(accept(INVALID_SOCKET, nullptr, nullptr)));
  note("closesocket", closesocket(INVALID_SOCKET));
  note("shutdown", shutdown(INVALID_SOCKET, SD_BOTH));
  note("socket", static_cast<long>(socket(12345, SOCK_DGRAM, 0)));
  note("setsockopt", setsockopt(INVALID_SOCKET, SOL_SOCKET, SO_REUSEADDR, buf, 4));
  len = sizeof buf;
  note("getsockopt", getsockopt(INVALID_SOCKET, SOL_SOCKET, SO_TYPE, buf, &len));
  len = sizeof sa;
  note("getsockname", getsockname(INVALID_SOCKET, reinterpret_cast<sockaddr*>(&sa), &len));
  len = sizeof sa;
  note("getpeername", getpeername(INVALID_SOCKET, reinterpret_cast<sockaddr*>(&sa), &len));
  note("ioctlsocket", ioctlsocket(INVALID_SOCKET, FIONBIO, &arg));
  note("WSAIoctl", WSAIoctl(INVALID_SOCKET, FIONBIO, &arg, sizeof arg, nullptr, 0, &returned,
                            nullptr, nullptr));
  note("select", select(0, nullptr, nullptr, nullptr, &zero));
  note("inet_addr", static_cast<long>(inet_addr("not-an-address")));
  note("getservbyname", getservbyname("no-such-service", "udp") ? 1 : 0);
  note("getprotobyname", getprotobyname("no-such-protocol") ? 1 : 0);
  note("gethostname", gethostname(buf, 0));
  return out;
}

// Ordinals 1..200 that resolve in the loaded ostrel.dll, as a host that binds
// by ordinal would see them.
std::string resolve_ordinals() {
  HMODULE module = GetModuleHandleA("ostrel.dll");
  if (!module) return "err no-ostrel";
  std::string out = "ok";
  for (int ordinal = 1; ordinal <= 200; ++ordinal)
    if (GetProcAddress(module, MAKEINTRESOURCEA(ordinal))) out += " " + std::to_string(ordinal);
  return out;
}

// Where the pass-through loop's sum goes, so that the compiler cannot drop the calls.
volatile u_long passthrough_sink = 0;

// Nanoseconds per call of a pass-through export: "htonl" (pure computation in
// WS2_32, so the layer's own cost dominates) or "getsockopt" (a real socket call).
// The results are summed in a register, not through memory, so that the loop's
// own chain is one add and does not hide the call behind a store and a load.

std::string bench_passthrough(long calls, const std::string& function) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return err_code();
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  int value = 0, len = sizeof value;
  QueryPerformanceCounter(&t0);
  if (function == "getsockopt") {
    for (long i = 0; i < calls; ++i) {
      len = sizeof value;
      getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&value), &len);
    }
  } else {
    u_long sum = 0;
    for (long i = 0; i < calls; ++i) sum += htonl(static_cast<u_long>(i));
    passthrough_sink = sum;
  }
  QueryPerformanceCounter(&t1);
  closesocket(s);
  double ns = 1e9 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
              static_cast<double>(freq.QuadPart) / static_cast<double>(calls);
  char text[64];
  std::snprintf(text, sizeof text, "ok %.2f", ns);
  return text;
}

std::string run(const std::string& line, bool& done) {
  std::istringstream in(line);
  std::string cmd;
  in >> cmd;
  if (cmd.empty()) return "err empty";
  if (cmd == "ping") return "ok pong";
  if (cmd == "exit") {
    done = true;
    return "ok bye";
  }
  if (cmd == "sleep") {
    long ms = 0;
    in >> ms;
    Sleep(static_cast<DWORD>(ms));
    return "ok";
  }
  if (cmd == "pid") return "ok " + std::to_string(GetCurrentProcessId());
  if (cmd == "cwd") {
    char dir[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, dir);
    return std::string("ok ") + dir;
  }
  if (cmd == "resolve") {
    std::string name;
    in >> name;
    if (name == "-") name.clear();
    hostent* h = gethostbyname(name.c_str());
    return h ? "ok " + describe_host(h) : err_code();
  }
  if (cmd == "udp" || cmd == "tcp_listen") {
    unsigned port = 0;
    in >> port;
    bool tcp = cmd == "tcp_listen";
    SOCKET s = socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return err_code();
    in_addr loopback;
    parse_ip("127.0.0.1", &loopback);
    sockaddr_in sa = endpoint(loopback, port);
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return err_code();
    if (tcp && listen(s, 4) != 0) return err_code();
    int len = sizeof sa;
    getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    return "ok " + std::to_string(s) + " " + std::to_string(ntohs(sa.sin_port));
  }
  if (cmd == "tcp_connect" || cmd == "connect_reached") {
    // connect_reached also answers the port the connection actually reached.
    std::string ip;
    unsigned port = 0;
    in >> ip >> port;
    in_addr address;
    if (!parse_ip(ip, &address)) return "err bad-address";
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return err_code();
    sockaddr_in sa = endpoint(address, port);
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return err_code();
    if (cmd == "tcp_connect") return "ok " + std::to_string(s);
    sockaddr_in peer{};
    int len = sizeof peer;
    if (getpeername(s, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return err_code();
    return "ok " + std::to_string(s) + " " + std::to_string(ntohs(peer.sin_port));
  }
  if (cmd == "accept") {
    unsigned long long s = 0;
    int timeout = 5000;
    in >> s >> timeout;
    if (wait_readable(static_cast<SOCKET>(s), timeout) <= 0) return "err timeout";
    SOCKET c = accept(static_cast<SOCKET>(s), nullptr, nullptr);
    return c == INVALID_SOCKET ? err_code() : "ok " + std::to_string(c);
  }
  if (cmd == "query") {
    // A server query as the game sends it (0xFE 0xFD 0x00, request identity,
    // all keys), then the answer exactly as received: "ok <ip> <port> <hex>".
    unsigned long long s = 0;
    std::string ip;
    unsigned port = 0;
    int timeout = 3000;
    in >> s >> ip >> port >> timeout;
    in_addr address;
    if (!parse_ip(ip, &address)) return "err bad-address";
    const unsigned char request[] = {0xFE, 0xFD, 0x00, 0x10, 0x20, 0x30, 0x40, 0xFF, 0xFF, 0xFF};
    sockaddr_in sa = endpoint(address, port);
    if (sendto(static_cast<SOCKET>(s), reinterpret_cast<const char*>(request), sizeof request, 0,
               reinterpret_cast<sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR)
      return err_code();
    int ready = wait_readable(static_cast<SOCKET>(s), timeout);
    if (ready == 0) return "err timeout";
    if (ready < 0) return err_code();
    std::vector<unsigned char> buf(65536);
    sockaddr_in from{};
    int from_len = sizeof from;
    int n = recvfrom(static_cast<SOCKET>(s), reinterpret_cast<char*>(buf.data()),
                     static_cast<int>(buf.size()), 0, reinterpret_cast<sockaddr*>(&from), &from_len);
    if (n == SOCKET_ERROR) return err_code();
    return "ok " + ip_text(&from.sin_addr) + " " + std::to_string(ntohs(from.sin_port)) + " " +
           hex_encode(buf.data(), static_cast<size_t>(n));
  }
  if (cmd == "sendto") {
    unsigned long long s = 0;
    std::string ip, payload;
    unsigned port = 0;
    in >> s >> ip >> port >> payload;
    in_addr address;
    std::vector<unsigned char> data;
    if (!parse_ip(ip, &address) || !hex_decode(payload, data)) return "err bad-arguments";
    sockaddr_in sa = endpoint(address, port);
    int n = sendto(static_cast<SOCKET>(s), reinterpret_cast<const char*>(data.data()),
                   static_cast<int>(data.size()), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return n == SOCKET_ERROR ? err_code() : "ok " + std::to_string(n);
  }
  if (cmd == "send") {
    unsigned long long s = 0;
    std::string payload;
    in >> s >> payload;
    std::vector<unsigned char> data;
    if (!hex_decode(payload, data)) return "err bad-arguments";
    int n = send(static_cast<SOCKET>(s), reinterpret_cast<const char*>(data.data()),
                 static_cast<int>(data.size()), 0);
    return n == SOCKET_ERROR ? err_code() : "ok " + std::to_string(n);
  }
  if (cmd == "recvfrom" || cmd == "recv") {
    unsigned long long s = 0;
    int timeout = 2000;
    in >> s >> timeout;
    int ready = wait_readable(static_cast<SOCKET>(s), timeout);
    if (ready == 0) return "err timeout";
    if (ready < 0) return err_code();
    std::vector<unsigned char> buf(65536);
    if (cmd == "recv") {
      int n = recv(static_cast<SOCKET>(s), reinterpret_cast<char*>(buf.data()),
                   static_cast<int>(buf.size()), 0);
      return n == SOCKET_ERROR ? err_code() : "ok " + hex_encode(buf.data(), static_cast<size_t>(n));
    }
    sockaddr_in from{};
    int from_len = sizeof from;
    int n = recvfrom(static_cast<SOCKET>(s), reinterpret_cast<char*>(buf.data()),
                     static_cast<int>(buf.size()), 0, reinterpret_cast<sockaddr*>(&from), &from_len);
    if (n == SOCKET_ERROR) return err_code();
    return "ok " + ip_text(&from.sin_addr) + " " + std::to_string(ntohs(from.sin_port)) + " " +
           hex_encode(buf.data(), static_cast<size_t>(n));
  }
  // A host that cleans its socket library up and starts it again, as some
  // games do between a match and the next.
  if (cmd == "wsacleanup") return WSACleanup() == 0 ? "ok" : err_code();
  if (cmd == "wsastartup") {
    WSADATA wsa;
    const int error = WSAStartup(MAKEWORD(2, 2), &wsa);
    return error == 0 ? "ok" : "err " + std::to_string(error);
  }
  if (cmd == "close") {
    unsigned long long s = 0;
    in >> s;
    return closesocket(static_cast<SOCKET>(s)) == 0 ? "ok" : err_code();
  }
  std::string extended;
  if (run_registry_command(cmd, in, extended)) return extended;
  if (run_name_command(cmd, in, extended)) return extended;
  if (run_script_command(cmd, in, extended)) return extended;
  if (run_soak_command(cmd, in, extended)) return extended;
  if (cmd == "invalid") return invalid_battery();
  if (cmd == "ordinals") return resolve_ordinals();
  if (cmd == "bench_passthrough") {
    long calls = 100000;
    std::string function = "htonl";
    in >> calls >> function;
    return bench_passthrough(calls > 0 ? calls : 1, function);
  }
  return "err unknown-command";
}

}  // namespace

std::string run_line(const std::string& line) {
  bool done = false;  // "exit" ends only the command loop
  return run(line, done);
}

std::string describe_host(const hostent* h) {
  std::string s = "name=" + std::string(h->h_name ? h->h_name : "(null)");
  s += " type=" + std::to_string(h->h_addrtype) + " len=" + std::to_string(h->h_length) + " addrs=";
  for (int i = 0; h->h_addr_list && h->h_addr_list[i]; ++i) {
    if (i) s += ",";
    s += h->h_length == 4 ? ip_text(h->h_addr_list[i]) : "?";
  }
  s += " aliases=";
  for (int i = 0; h->h_aliases && h->h_aliases[i]; ++i) {
    if (i) s += ",";
    s += h->h_aliases[i];
  }
  return s;
}

int main() {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    answer("err wsastartup");
    return 1;
  }
  answer("ok ready");
  std::string line;
  static char buffer[1 << 18];  // room for a 64 KiB datagram in hex
  bool done = false;
  while (!done && std::fgets(buffer, sizeof buffer, stdin)) {
    line = buffer;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    answer(run(line, done));
  }
  WSACleanup();
  return 0;
}
