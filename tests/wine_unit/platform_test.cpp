// The Windows platform layer under Wine: clocks, process facts, threads, the
// lock, thread-local slots and the datagram helpers against real WS2_32.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "platform/net.h"
#include "platform/platform.h"

namespace {

struct winsock_environment : ::testing::Environment {
  void SetUp() override {
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  }
  void TearDown() override { WSACleanup(); }
};
const auto* const winsock_env = ::testing::AddGlobalTestEnvironment(new winsock_environment);

TEST(Win32Platform, ClocksAgreeWithEachOther) {
  uint32_t s = platform::now_seconds();
  EXPECT_GT(s, 1600000000u);
  // Milliseconds, not another unit: over at least 200 ms of the system
  // clock, the monotonic clock's interval is within a factor of two of it.
  // Each side is read so that one interval encloses the other, and the bounds
  // are loose, because Wine's tick count comes from a page its server updates
  // in steps of about 16 ms, later still when the machine is busy; a clock
  // in another unit is off by a factor of ten or more.  Sleep's own length
  // is never relied on, as it may end early or late.
  auto system_ms = [] {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return ((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000u;
  };
  const uint64_t mono_outer_before = platform::monotonic_ms();
  const uint64_t system_before = system_ms();
  const uint64_t mono_inner_before = platform::monotonic_ms();
  uint64_t system_after = system_before;
  for (int i = 0; i < 1000 && system_after - system_before < 200; ++i) {
    platform::sleep_ms(20);
    system_after = system_ms();
  }
  const uint64_t mono_inner_after = platform::monotonic_ms();
  const uint64_t system_end = system_ms();
  const uint64_t mono_outer_after = platform::monotonic_ms();
  ASSERT_GE(system_after - system_before, 200u);
  EXPECT_GE(2 * (mono_outer_after - mono_outer_before), system_after - system_before);
  EXPECT_LE(mono_inner_after - mono_inner_before, 2 * (system_end - system_before));
  platform::utc_time t = platform::utc_from_seconds(86400 * 365);
  EXPECT_EQ(t.year, 1971);
  EXPECT_EQ(t.month, 1);
  EXPECT_EQ(t.day, 1);
}

TEST(Win32Platform, ExecutablePathAndProcess) {
  char path[260];
  ASSERT_EQ(platform::executable_path(path, sizeof path), 0);
  EXPECT_NE(std::strstr(path, "wine_unit_tests.exe"), nullptr) << path;
  // A buffer too small is still terminated.
  char tiny[8];
  platform::executable_path(tiny, sizeof tiny);
  EXPECT_EQ(tiny[7], '\0');
  EXPECT_EQ(platform::process_id(), GetCurrentProcessId());
  EXPECT_NE(std::strstr(platform::command_line(), "wine_unit_tests"), nullptr);
}

TEST(Win32Platform, EntropyDiffersBetweenCalls) {
  uint8_t a[32], b[32];
  platform::entropy(a, sizeof a);
  platform::entropy(b, sizeof b);
  EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

TEST(Win32Platform, ThreadSlotIsPerThread) {
  platform::thread_slot slot = platform::thread_slot_alloc();
  ASSERT_TRUE(slot.valid);
  int mine = 1, theirs = 2;
  ASSERT_EQ(platform::thread_slot_set(slot, &mine), 0);
  std::atomic<void*> seen_before{reinterpret_cast<void*>(1)};
  std::atomic<void*> seen_after{nullptr};
  struct ctx {
    platform::thread_slot* slot;
    int* value;
    std::atomic<void*>* before;
    std::atomic<void*>* after;
    std::atomic<int> done{0};
  } c{&slot, &theirs, &seen_before, &seen_after};
  ASSERT_EQ(platform::thread_start(
                [](void* p) {
                  auto* c = static_cast<ctx*>(p);
                  c->before->store(platform::thread_slot_get(*c->slot));
                  platform::thread_slot_set(*c->slot, c->value);
                  c->after->store(platform::thread_slot_get(*c->slot));
                  c->done = 1;
                },
                &c),
            0);
  while (!c.done) platform::sleep_ms(1);
  EXPECT_EQ(seen_before.load(), nullptr);
  EXPECT_EQ(seen_after.load(), &theirs);
  EXPECT_EQ(platform::thread_slot_get(slot), &mine);
  platform::thread_slot_free(slot);
  EXPECT_FALSE(slot.valid);
}

// Thread blocks come from the process heap, zero-filled, and go back to it
// (the thread detach frees them there, where the C runtime may not run).
TEST(Win32Platform, ThreadBlocksAreZeroedProcessHeapBlocks) {
  auto* block = static_cast<unsigned char*>(platform::thread_block_alloc(1024));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_GE(HeapSize(GetProcessHeap(), 0, block), 1024u);
  platform::thread_block_free(block);
  platform::thread_block_free(nullptr);
}

TEST(Win32Platform, LockSerialisesThreads) {
  platform::lock* l = platform::lock_create();
  ASSERT_NE(l, nullptr);
  struct ctx {
    platform::lock* l;
    long counter = 0;
    std::atomic<int> finished{0};
  } c{l};
  auto body = [](void* p) {
    auto* c = static_cast<ctx*>(p);
    for (int i = 0; i < 10000; ++i) {
      platform::lock_acquire(c->l);
      long v = c->counter;
      c->counter = v + 1;
      platform::lock_release(c->l);
    }
    c->finished++;
  };
  for (int i = 0; i < 4; ++i) ASSERT_EQ(platform::thread_start(body, &c), 0);
  while (c.finished < 4) platform::sleep_ms(1);
  EXPECT_EQ(c.counter, 40000);
  platform::lock_destroy(l);
}

TEST(Win32Platform, DatagramHelpersOnLoopback) {
  platform::socket_handle a = platform::udp_open();
  ASSERT_NE(a, platform::invalid_socket);
  // Bind a receiver through the real functions, then exchange through the helpers.
  SOCKET b = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(b, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  int len = sizeof sa;
  getsockname(b, reinterpret_cast<sockaddr*>(&sa), &len);
  uint16_t port = ntohs(sa.sin_port);

  EXPECT_EQ(platform::wait_readable(static_cast<platform::socket_handle>(b), 50), 0);
  ASSERT_EQ(platform::udp_send_to(a, "hello", 5, htonl(INADDR_LOOPBACK), port), 5);
  ASSERT_EQ(platform::wait_readable(static_cast<platform::socket_handle>(b), 2000), 1);
  char buf[16];
  uint32_t from = 0;
  uint16_t from_port = 0;
  int ipv4 = 0;
  int n = platform::udp_receive_from(static_cast<platform::socket_handle>(b), buf, sizeof buf,
                                     &from, &from_port, &ipv4);
  ASSERT_EQ(n, 5);
  EXPECT_EQ(std::memcmp(buf, "hello", 5), 0);
  EXPECT_EQ(ipv4, 1);
  EXPECT_EQ(from, htonl(INADDR_LOOPBACK));
  EXPECT_NE(from_port, 0);
  platform::socket_close(a);
  closesocket(b);
}

// Stream sockets never block: a connection under way is waited for, a
// refused one is reported through its error code, a full send buffer as 0
// bytes sent, and an empty receive as a failure.
TEST(Win32Platform, StreamHelpersDoNotBlock) {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  int len = sizeof sa;
  getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len);
  const uint16_t port = ntohs(sa.sin_port);

  const auto connect_within = [](platform::socket_handle s, uint16_t to) {
    int result = platform::tcp_connect(s, htonl(INADDR_LOOPBACK), to);
    for (int i = 0; i < 50 && result == platform::stream_in_progress; ++i)
      if (platform::wait_writable(s, 100) == 1) result = platform::tcp_connect_result(s);
    return result;
  };
  platform::socket_handle s = platform::tcp_open();
  ASSERT_NE(s, platform::invalid_socket);
  ASSERT_EQ(connect_within(s, port), 0);
  SOCKET peer = accept(listener, nullptr, nullptr);
  ASSERT_NE(peer, INVALID_SOCKET);
  char buf[16];
  EXPECT_EQ(platform::tcp_receive(s, buf, sizeof buf), -1) << "nothing there yet";
  EXPECT_EQ(platform::tcp_send(s, "ping", 4), 4);
  EXPECT_EQ(recv(peer, buf, sizeof buf, 0), 4);
  ASSERT_EQ(send(peer, "pong", 4, 0), 4);
  ASSERT_EQ(platform::wait_readable(s, 2000), 1);
  EXPECT_EQ(platform::tcp_receive(s, buf, sizeof buf), 4);
  closesocket(peer);
  ASSERT_EQ(platform::wait_readable(s, 2000), 1);
  EXPECT_EQ(platform::tcp_receive(s, buf, sizeof buf), 0) << "closed";
  platform::socket_close(s);

  // A peer that never reads: the send buffer fills and tcp_send says 0.
  s = platform::tcp_open();
  ASSERT_EQ(connect_within(s, port), 0);
  peer = accept(listener, nullptr, nullptr);
  static char block[65536];
  int zero_after = -1;
  for (int i = 0; i < 20000 && zero_after < 0; ++i)
    if (platform::tcp_send(s, block, sizeof block) == 0) zero_after = i;
  EXPECT_GT(zero_after, 0);
  EXPECT_EQ(platform::wait_writable(s, 100), 0);
  platform::socket_close(s);
  closesocket(peer);
  closesocket(listener);

  // Nothing listens any more: refused (WSAECONNREFUSED).
  s = platform::tcp_open();
  EXPECT_EQ(connect_within(s, port), WSAECONNREFUSED);
  platform::socket_close(s);
}

// What the helpers' callers learn when a send or receive fails: the two
// errors that mean the handle is gone (the socket library was shut down, or
// the handle names no socket) against an ordinary failure.
TEST(Win32Platform, FailuresTellAHandleThatIsGoneFromOthers) {
  const uint32_t loopback = htonl(INADDR_LOOPBACK);
  char buffer[8];
  uint32_t from = 0;
  uint16_t from_port = 0;
  int ipv4 = 0;

  // The error is read at once: reporting a failure changes the thread's last error.
  struct outcome {
    int result;
    int error;
    bool lost;
  };
  const auto after = [](int result) {
    const int error = WSAGetLastError();
    const bool lost = platform::socket_handle_lost();
    return outcome{result, error, lost};
  };

  platform::socket_handle s = platform::udp_open();
  ASSERT_NE(s, platform::invalid_socket);
  outcome o = after(platform::udp_send_to(s, "x", 1, loopback, 0));  // port 0: no destination
  EXPECT_EQ(o.result, -1);
  EXPECT_FALSE(o.lost) << o.error;
  platform::socket_close(s);
  o = after(platform::udp_send_to(s, "x", 1, loopback, 9));
  EXPECT_EQ(o.result, -1);
  EXPECT_EQ(o.error, WSAENOTSOCK);
  EXPECT_TRUE(o.lost);
  o = after(platform::wait_readable(s, 10));
  EXPECT_EQ(o.result, -1);
  EXPECT_TRUE(o.lost) << o.error;
  o = after(platform::udp_receive_from(s, buffer, sizeof buffer, &from, &from_port, &ipv4));
  EXPECT_EQ(o.result, -1);
  EXPECT_TRUE(o.lost) << o.error;

  // The host's last WSACleanup takes every socket with it, ours included.
  // Windows then fails every call with WSANOTINITIALISED (the sendto page);
  // Wine 8 checks the handle first and reports WSAENOTSOCK.  Both mean lost.
  s = platform::udp_open();
  ASSERT_NE(s, platform::invalid_socket);
  int started = 0;  // this program's own start-up, and any others still counted
  while (WSACleanup() == 0) ++started;
  ASSERT_GT(started, 0);
  o = after(platform::udp_send_to(s, "x", 1, loopback, 9));
  EXPECT_EQ(o.result, -1);
  EXPECT_TRUE(o.error == WSANOTINITIALISED || o.error == WSAENOTSOCK) << o.error;
  EXPECT_TRUE(o.lost);
  WSADATA wsa;
  for (int i = 0; i < started; ++i) ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  o = after(platform::udp_send_to(s, "x", 1, loopback, 9));
  EXPECT_EQ(o.result, -1) << "started again: the old handle is still gone";
  EXPECT_TRUE(o.lost) << o.error;
}

// The import patcher asks about memory and never touches it: inaccessible and
// guard pages are refused without a fault (a guard page keeps its guard), and
// a slot that is readable but not writable is written with its protection
// put back as it was.
TEST(Win32Platform, MemoryQueriesAndSlotStoresByProtection) {
  const struct {
    DWORD protection;
    bool readable;
    bool stored;
  } cases[] = {
      {PAGE_READWRITE, true, true},      {PAGE_READONLY, true, true},
      {PAGE_EXECUTE_READ, true, true},   {PAGE_EXECUTE_READWRITE, true, true},
      {PAGE_NOACCESS, false, false},     {PAGE_READONLY | PAGE_GUARD, false, false},
  };
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.protection);
    auto* page = static_cast<uintptr_t*>(
        VirtualAlloc(nullptr, system.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(page, nullptr);
    page[1] = 0x11111111u;
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(page, system.dwPageSize, c.protection, &old));
    EXPECT_EQ(platform::memory_readable(page + 1, sizeof(uintptr_t)), c.readable);
    EXPECT_EQ(platform::store_code_pointer(page + 1, 0x22222222u), c.stored ? 0 : 1);
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(VirtualQuery(page, &info, sizeof info), 0u);
    EXPECT_EQ(info.Protect, c.protection) << "protection put back, guard kept";
    ASSERT_TRUE(VirtualProtect(page, system.dwPageSize, PAGE_READWRITE, &old));
    EXPECT_EQ(page[1], c.stored ? 0x22222222u : 0x11111111u);
    VirtualFree(page, 0, MEM_RELEASE);
  }

  // Reserved but not committed, and a range that runs into such memory.
  auto* reserved = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, 2 * system.dwPageSize, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(reserved, nullptr);
  ASSERT_NE(VirtualAlloc(reserved, system.dwPageSize, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_TRUE(platform::memory_readable(reserved, system.dwPageSize));
  EXPECT_FALSE(platform::memory_readable(reserved + system.dwPageSize, 4));
  EXPECT_FALSE(platform::memory_readable(reserved + system.dwPageSize - 2, 4));
  EXPECT_EQ(platform::store_code_pointer(reserved + system.dwPageSize, 1), 1);
  VirtualFree(reserved, 0, MEM_RELEASE);

  EXPECT_TRUE(platform::valid_code_address(reinterpret_cast<const void*>(&platform::udp_open)));
  EXPECT_FALSE(platform::valid_code_address(&system));  // data, not code
  EXPECT_FALSE(platform::valid_code_address(nullptr));
}

TEST(Win32Platform, ResolveIpv4) {
  uint32_t out[16];
  ASSERT_GE(platform::resolve_ipv4("localhost", out, 16), 1);
  EXPECT_EQ(out[0], htonl(INADDR_LOOPBACK));
  EXPECT_EQ(platform::resolve_ipv4("no-such-host.invalid", out, 16), 0);
}

TEST(Win32Platform, RealSocketFunctionsAreTheImportedOnes) {
  EXPECT_EQ(reinterpret_cast<void*>(platform::real_recvfrom_function()),
            reinterpret_cast<void*>(&::recvfrom));
  EXPECT_EQ(reinterpret_cast<void*>(platform::real_sendto_function()),
            reinterpret_cast<void*>(&::sendto));
}

TEST(Win32Platform, AddressTextIsReadByWinsock) {
  // The settings take WS2_32's reading of odd text, blank and bare "0x" included.
  for (const char* t : {"1.2.3.4", "0x7f.1", " ", "0x", "", "1.2.3.256", "10.1", "1.2.3.4 x"})
    EXPECT_EQ(platform::ipv4_from_text(t), inet_addr(t)) << '"' << t << '"';
  EXPECT_EQ(platform::ipv4_from_text("1.2.3.4"), htonl(0x01020304));
}

}  // namespace
