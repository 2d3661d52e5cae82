// hostsim commands for name resolution beyond a single look-up:
//   resolve_ptr NAME        one look-up on the command thread, with the address
//                           of the host entry returned (answers built by
//                           ostrel.dll live in a per-thread block)
//   resolve_threads N NAME  N threads resolve NAME at the same moment and
//                           live on until all have answered (a thread's
//                           block goes when it ends); each thread's answer,
//                           with its pointer, joined by " | "
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"

namespace {

// "ptr=<p> " and the host entry, or "err <code>".
std::string describe(const hostent* h, int error) {
  if (!h) return "err " + std::to_string(error);
  char pointer[32];
  std::snprintf(pointer, sizeof pointer, "%p", static_cast<const void*>(h));
  return std::string("ptr=") + pointer + " " + describe_host(h);
}

std::string resolve_here(const std::string& name) {
  const hostent* h = gethostbyname(name.c_str());
  return describe(h, h ? 0 : WSAGetLastError());
}

struct resolver_thread {
  HANDLE go;
  HANDLE answered;  // a semaphore: one count per answer
  HANDLE end;
  const std::string* name;
  std::string answer;
};

DWORD WINAPI resolve_when_told(LPVOID p) {
  auto* t = static_cast<resolver_thread*>(p);
  WaitForSingleObject(t->go, INFINITE);
  t->answer = resolve_here(*t->name);
  ReleaseSemaphore(t->answered, 1, nullptr);
  WaitForSingleObject(t->end, INFINITE);
  return 0;
}

std::string resolve_threads(int count, const std::string& name) {
  if (count < 1 || count > 64) return "err bad-count";
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE answered = CreateSemaphoreA(nullptr, 0, count, nullptr);
  HANDLE end = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!go || !answered || !end) return "err event";
  std::vector<resolver_thread> threads(static_cast<size_t>(count),
                                       resolver_thread{go, answered, end, &name, ""});
  std::vector<HANDLE> handles;
  for (auto& t : threads) {
    HANDLE h = CreateThread(nullptr, 0, resolve_when_told, &t, 0, nullptr);
    if (h) handles.push_back(h);
  }
  SetEvent(go);
  for (size_t i = 0; i < handles.size(); ++i) WaitForSingleObject(answered, INFINITE);
  SetEvent(end);
  WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
  for (HANDLE h : handles) CloseHandle(h);
  CloseHandle(go);
  CloseHandle(answered);
  CloseHandle(end);
  if (handles.size() != threads.size()) return "err threads";
  std::string out = "ok";
  for (size_t i = 0; i < threads.size(); ++i) out += (i ? " | " : " ") + threads[i].answer;
  return out;
}

}  // namespace

bool run_name_command(const std::string& cmd, std::istringstream& in, std::string& answer) {
  if (cmd == "resolve_ptr") {
    std::string name;
    in >> name;
    std::string result = resolve_here(name);
    answer = result.rfind("err", 0) == 0 ? result : "ok " + result;
    return true;
  }
  if (cmd == "resolve_threads") {
    int count = 0;
    std::string name;
    in >> count >> name;
    answer = resolve_threads(count, name);
    return true;
  }
  return false;
}
