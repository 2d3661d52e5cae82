// Pass-through exports: each is one indirect jump through the DLL's import slot
// of the real function, so arguments, result and last-error reach the caller
// exactly as WS2_32 left them.  Written in assembly so that no optimisation
// level can add a frame or a second instruction.

#define OSTREL_PASS_THROUGH(name, bytes)                 \
  asm(".text\n"                                          \
      ".globl _ostrel_" #name "@" #bytes "\n"            \
      ".p2align 4\n"                                     \
      "_ostrel_" #name "@" #bytes ":\n"                  \
      "  jmp *__imp__" #name "@" #bytes "\n");

OSTREL_PASS_THROUGH(accept, 12)
OSTREL_PASS_THROUGH(bind, 12)
OSTREL_PASS_THROUGH(getpeername, 12)
OSTREL_PASS_THROUGH(getsockname, 12)
OSTREL_PASS_THROUGH(getsockopt, 20)
OSTREL_PASS_THROUGH(htonl, 4)
OSTREL_PASS_THROUGH(htons, 4)
OSTREL_PASS_THROUGH(ioctlsocket, 12)
OSTREL_PASS_THROUGH(inet_addr, 4)
OSTREL_PASS_THROUGH(inet_ntoa, 4)
OSTREL_PASS_THROUGH(listen, 8)
OSTREL_PASS_THROUGH(ntohl, 4)
OSTREL_PASS_THROUGH(ntohs, 4)
OSTREL_PASS_THROUGH(recv, 16)
OSTREL_PASS_THROUGH(select, 20)
OSTREL_PASS_THROUGH(send, 16)
OSTREL_PASS_THROUGH(setsockopt, 20)
OSTREL_PASS_THROUGH(shutdown, 8)
OSTREL_PASS_THROUGH(socket, 12)
OSTREL_PASS_THROUGH(gethostbyaddr, 12)
OSTREL_PASS_THROUGH(getprotobyname, 4)
OSTREL_PASS_THROUGH(getservbyname, 8)
OSTREL_PASS_THROUGH(getservbyport, 8)
OSTREL_PASS_THROUGH(gethostname, 8)
OSTREL_PASS_THROUGH(WSAIoctl, 36)
OSTREL_PASS_THROUGH(WSAGetLastError, 0)
OSTREL_PASS_THROUGH(WSASetLastError, 4)
OSTREL_PASS_THROUGH(WSAStartup, 8)
OSTREL_PASS_THROUGH(WSACleanup, 0)
OSTREL_PASS_THROUGH(__WSAFDIsSet, 8)
