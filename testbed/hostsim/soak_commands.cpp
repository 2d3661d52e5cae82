// hostsim commands for long runs, where the host does many things at once:
//   resources              the process's private bytes, handle count, thread
//                          count and live heap blocks (all heaps), one sample;
//                          where a counter reads 0 (Wine), counted otherwise
//   par CMD ;; CMD ...     each command on a thread of its own, all released
//                          at once, the threads ending with their command;
//                          the answers in order, joined by " ;; "
//   churn N                N UDP and N TCP sockets opened and closed
//   connect_once IP PORT   a TCP connection made and closed at once: "ok
//                          <port the connection reached>"
// The script runtime's commands are not for par: its state has no lock.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"

namespace {

unsigned long thread_count() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  const DWORD self = GetCurrentProcessId();
  unsigned long count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == self) ++count;
  CloseHandle(snapshot);
  return count;
}

// Busy blocks of every heap of the process: what a leak of small blocks
// shows in long before the private bytes move.
unsigned long heap_blocks() {
  std::vector<HANDLE> heaps(64);
  DWORD n = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  if (n > heaps.size()) {
    heaps.resize(n);
    n = GetProcessHeaps(n, heaps.data());
  }
  unsigned long count = 0;
  for (DWORD i = 0; i < n && i < heaps.size(); ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++count;
    HeapUnlock(heaps[i]);
  }
  return count;
}

// Committed private memory, region by region: what PrivateUsage counts, for
// systems that leave that counter at 0 (Wine does).
unsigned long private_committed() {
  unsigned long total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    if (region.RegionSize == 0) break;
  }
  return total;
}

// Open handles found by asking about each handle value in turn, for systems
// whose handle count is always 0 (Wine's is): handle values are multiples of
// 4 given lowest first, so the search ends after a long run of unused ones.
unsigned long handles_probed() {
  unsigned long count = 0, unused = 0;
  DWORD flags = 0;
  for (uintptr_t value = 4; unused < 2048; value += 4) {
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++count;
      unused = 0;
    } else {
      ++unused;
    }
  }
  return count;
}

std::string resources() {
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                            sizeof memory))
    return "err memory " + std::to_string(GetLastError());
  DWORD handles = 0;
  if (!GetProcessHandleCount(GetCurrentProcess(), &handles))
    return "err handles " + std::to_string(GetLastError());
  unsigned long private_bytes = static_cast<unsigned long>(memory.PrivateUsage);
  const char* memory_source = "counter";
  if (private_bytes == 0) {
    private_bytes = private_committed();
    memory_source = "regions";
  }
  const char* handle_source = "counter";
  if (handles == 0) {
    handles = handles_probed();
    handle_source = "probed";
  }
  char text[200];
  std::snprintf(text, sizeof text,
                "ok private=%lu handles=%lu threads=%lu heap_blocks=%lu private_from=%s handles_from=%s",
                private_bytes, static_cast<unsigned long>(handles), thread_count(), heap_blocks(),
                memory_source, handle_source);
  return text;
}

struct par_thread {
  HANDLE go;
  std::string command;
  std::string answer;
};

DWORD WINAPI par_body(LPVOID p) {
  auto* t = static_cast<par_thread*>(p);
  WaitForSingleObject(t->go, INFINITE);
  t->answer = run_line(t->command);
  return 0;
}

std::string par(const std::string& rest) {
  std::vector<par_thread> threads;
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!go) return "err event";
  for (size_t start = 0; start <= rest.size();) {
    size_t end = rest.find(";;", start);
    if (end == std::string::npos) end = rest.size();
    std::string command = rest.substr(start, end - start);
    while (!command.empty() && command.front() == ' ') command.erase(0, 1);
    while (!command.empty() && command.back() == ' ') command.pop_back();
    if (!command.empty()) threads.push_back({go, command, ""});
    start = end + 2;
  }
  if (threads.empty() || threads.size() > 64) {
    CloseHandle(go);
    return "err bad-count";
  }
  std::vector<HANDLE> handles;
  for (auto& t : threads) {
    HANDLE h = CreateThread(nullptr, 0, par_body, &t, 0, nullptr);
    if (h) handles.push_back(h);
  }
  SetEvent(go);
  if (!handles.empty())
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
  for (HANDLE h : handles) CloseHandle(h);
  CloseHandle(go);
  if (handles.size() != threads.size()) return "err threads";
  std::string out = "ok";
  for (size_t i = 0; i < threads.size(); ++i) out += (i ? " ;; " : " ") + threads[i].answer;
  return out;
}

std::string churn(int count) {
  for (int i = 0; i < count; ++i)
    for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
      SOCKET s = socket(AF_INET, type, 0);
      if (s == INVALID_SOCKET) return "err " + std::to_string(WSAGetLastError());
      if (closesocket(s) != 0) return "err close " + std::to_string(WSAGetLastError());
    }
  return "ok";
}

std::string connect_once(const std::string& ip, unsigned port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<u_short>(port));
  sa.sin_addr.s_addr = inet_addr(ip.c_str());
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return "err " + std::to_string(WSAGetLastError());
  std::string out;
  if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    out = "err " + std::to_string(WSAGetLastError());
  } else {
    sockaddr_in peer{};
    int len = sizeof peer;
    out = getpeername(s, reinterpret_cast<sockaddr*>(&peer), &len) == 0
              ? "ok " + std::to_string(ntohs(peer.sin_port))
              : "err " + std::to_string(WSAGetLastError());
  }
  closesocket(s);
  return out;
}

}  // namespace

bool run_soak_command(const std::string& cmd, std::istringstream& in, std::string& answer) {
  if (cmd == "resources") {
    answer = resources();
  } else if (cmd == "par") {
    std::string rest;
    std::getline(in, rest);
    answer = par(rest);
  } else if (cmd == "churn") {
    int count = 0;
    in >> count;
    answer = count > 0 && count <= 1000 ? churn(count) : "err bad-count";
  } else if (cmd == "connect_once") {
    std::string ip;
    unsigned port = 0;
    in >> ip >> port;
    answer = connect_once(ip, port);
  } else {
    return false;
  }
  return true;
}
