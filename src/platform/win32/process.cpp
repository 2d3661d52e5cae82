// Windows process facts: executable path, command line, ids, other processes'
// image names, and run-to-run entropy for the random seed.
#include <windows.h>
#include <psapi.h>

#include <cstring>

#include "base/text.h"
#include "platform/platform.h"

extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);  // RtlGenRandom

namespace platform {

int executable_path(char* out, size_t size) {
  if (size == 0) return 1;
  DWORD n = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
  out[size - 1] = '\0';
  return n == 0 ? 1 : 0;
}

const char* command_line() {
  const char* line = GetCommandLineA();
  return line ? line : "";
}

uint32_t process_id() { return GetCurrentProcessId(); }

int process_image_name(uint32_t pid, char* out, size_t size) {
  if (size == 0) return 1;
  // The limited right is all the image name needs, and it is granted on a
  // process of higher integrity (an elevated launcher) where the full query
  // right is not.
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  if (!process) return 1;
  // An exited process stays open-able while anyone holds a handle to it (the
  // program that started it, say); it no longer counts as that process.
  if (WaitForSingleObject(process, 0) != WAIT_TIMEOUT) {
    CloseHandle(process);
    return 1;
  }
  DWORD n = GetProcessImageFileNameA(process, out, static_cast<DWORD>(size));
  CloseHandle(process);
  out[size - 1] = '\0';
  return n == 0 ? 1 : 0;
}

void entropy(void* out, size_t size) {
  std::memset(out, 0, size);
  SystemFunction036(out, static_cast<ULONG>(size));
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  uint8_t* p = static_cast<uint8_t*>(out);
  uint64_t mix = static_cast<uint64_t>(counter.QuadPart) ^
                 (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^ GetTickCount();
  for (size_t i = 0; i < size; ++i) p[i] ^= static_cast<uint8_t>(mix >> (8 * (i % 8)));
}

}  // namespace platform
