// The five exports that step into traffic.  Each is an entry into the library
// and passes the start gate before its own work.  recvfrom enters the receive
// dispatch pointer; sendto, connect and closesocket run their portable steps
// and then the real calls; gethostbyname is the name hook.
#include <winsock2.h>

#include "core/start_gate.h"
#include "redirect/name_hook.h"
#include "sockets/dispatch.h"
#include "sockets/send_step.h"

extern "C" {

int WSAAPI ostrel_recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from,
                           int* from_length) {
  core::pass_start_gate();
  return sockets::receive_dispatch(s, buffer, length, flags, from, from_length);
}

int WSAAPI ostrel_sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to,
                         int to_length) {
  core::pass_start_gate();
  return sockets::intercept_sendto(s, buffer, length, flags, to, to_length);
}

int WSAAPI ostrel_connect(SOCKET s, const sockaddr* name, int name_length) {
  core::pass_start_gate();
  uint8_t moved[16];
  int length = name_length;
  const void* target = sockets::connect_target(name, name_length, moved, &length);
  return connect(s, static_cast<const sockaddr*>(target), length);
}

int WSAAPI ostrel_closesocket(SOCKET s) {
  core::pass_start_gate();
  sockets::socket_closing(s);
  return closesocket(s);
}

hostent* WSAAPI ostrel_gethostbyname(const char* name) {
  core::pass_start_gate();
  return static_cast<hostent*>(redirect::name_hook(name));
}

}  // extern "C"
