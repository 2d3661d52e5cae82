// The library's own datagram client helpers over the real socket functions
// (never through the DLL's exports), and name resolution for service hosts.
#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

using socket_handle = uintptr_t;
inline constexpr socket_handle invalid_socket = ~static_cast<uintptr_t>(0);

// The library's own reference on the socket library, taken once by the
// deferred start-up and never given back: the socket library stays up while
// any reference remains ("WSAStartup function": each successful call needs a
// WSACleanup of its own), so a host that cleans up its own reference neither
// closes the library's sockets nor hands their handle values to its next
// sockets.  WSACleanup may not be called from DllMain, and the DLL lives as
// long as the process that imports it, so the process's end releases it.
// 0 when the reference is held.
int winsock_reference();

socket_handle udp_open();
void socket_close(socket_handle s);
// address in network byte order, port in host order.  Returns bytes sent or -1.
int udp_send_to(socket_handle s, const void* data, size_t length, uint32_t address,
                uint16_t port);
// 1 readable, 0 time-out, -1 error.
int wait_readable(socket_handle s, uint32_t timeout_ms);
// Receives one datagram; fills the sender's IPv4 address (network order) and
// port, and sets *ipv4 to 1 when the sender was a 16-byte IPv4 socket address.
// Returns the datagram's length or -1.
int udp_receive_from(socket_handle s, void* buffer, size_t size, uint32_t* address,
                     uint16_t* port, int* ipv4);

// Stream client helpers (the snapshot upload).  A stream socket does not
// block: the caller waits for it in slices it chooses, so that every wait is
// bounded on the monotonic clock and a peer can hold nothing for ever.
inline constexpr int stream_in_progress = -1;
// The error code reported for a connection that did not come about in time.
#ifdef _WIN32
inline constexpr int timed_out_error = 10060;  // WSAETIMEDOUT
#else
inline constexpr int timed_out_error = 110;  // ETIMEDOUT
#endif
socket_handle tcp_open();
// address in network byte order, port in host order.  0 when connected,
// stream_in_progress when the connection is under way (wait_writable, then
// tcp_connect_result), otherwise the platform's error code (positive).
int tcp_connect(socket_handle s, uint32_t address, uint16_t port);
// 1 when the socket can take data, or its connection attempt has ended either
// way; 0 time-out; -1 error.
int wait_writable(socket_handle s, uint32_t timeout_ms);
// 0 when the connection under way now stands, otherwise the error code.
int tcp_connect_result(socket_handle s);
// Bytes sent (at most length), 0 when the socket's buffer is full for now, or
// -1 on error.
int tcp_send(socket_handle s, const void* data, size_t length);
// Bytes received, 0 when the peer closed the connection, -1 on error (also
// when nothing is there to read).
int tcp_receive(socket_handle s, void* buffer, size_t size);

// Whether the calling thread's last failed send, wait or receive of these
// helpers failed because the handle no longer names a socket: the host shut
// the socket library down (and may have started it again since), or the
// handle was closed.  A long-lived socket of the library's own is then
// dropped, never closed (its value may by now be a socket of the host's),
// and a new one is made on next use.
bool socket_handle_lost();

// The local port (host order) of a socket bound to an IPv4 address, through
// the real getsockname.  0 on success; 1 when the call fails or the socket's
// family is not IPv4.
int socket_local_port(socket_handle s, uint16_t* port);
// Resolves a host name to at most max IPv4 addresses (network order), in the
// order the resolver returns them.  Returns how many were found.
int resolve_ipv4(const char* host, uint32_t* out, int max);

// Address text to an IPv4 address (network order) by the system's own
// inet_addr (WS2_32's in the DLL), whose reading of odd text the settings
// follow exactly; all ones for text it refuses.
uint32_t ipv4_from_text(const char* text);

}  // namespace platform

#ifdef _WIN32
#define OSTREL_SOCKAPI __stdcall
#else
#define OSTREL_SOCKAPI
#endif

namespace platform {

// The real receive and send functions with the Windows Sockets signatures (the
// socket address is the caller's own bytes, passed through untouched).
using recvfrom_fn = int(OSTREL_SOCKAPI*)(uintptr_t s, char* buffer, int length, int flags,
                                         void* from, int* from_length);
using sendto_fn = int(OSTREL_SOCKAPI*)(uintptr_t s, const char* buffer, int length, int flags,
                                       const void* to, int to_length);
recvfrom_fn real_recvfrom_function();
sendto_fn real_sendto_function();

// The real gethostbyname: a host entry (hostent) or null with the real
// library's error state.  The name hook hands every name it does not answer
// itself to this function.
using gethostbyname_fn = void*(OSTREL_SOCKAPI*)(const char* name);
gethostbyname_fn real_gethostbyname_function();

}  // namespace platform
