// The five exports that step into traffic.  recvfrom enters the receive
// dispatch pointer; sendto, connect and closesocket run their portable steps
// and then the real calls; gethostbyname is the name hook.
#include <winsock2.h>

#include "redirect/name_hook.h"
#include "sockets/dispatch.h"
#include "sockets/send_step.h"

extern "C" {

int WSAAPI ostrel_recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from,
                           int* from_length) {
  return sockets::receive_dispatch(s, buffer, length, flags, from, from_length);
}

int WSAAPI ostrel_sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to,
                         int to_length) {
  return sockets::intercept_sendto(s, buffer, length, flags, to, to_length);
}

int WSAAPI ostrel_connect(SOCKET s, const sockaddr* name, int name_length) {
  uint8_t moved[16];
  int length = name_length;
  const void* target = sockets::connect_target(name, name_length, moved, &length);
  return connect(s, static_cast<const sockaddr*>(target), length);
}

int WSAAPI ostrel_closesocket(SOCKET s) {
  sockets::socket_closing(s);
  return closesocket(s);
}

hostent* WSAAPI ostrel_gethostbyname(const char* name) {
  return static_cast<hostent*>(redirect::name_hook(name));
}

}  // extern "C"
