// The console and folder questions on Windows.
#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>

#include "doctor/doctor_host.h"

namespace doctor {

bool sole_console_process() {
  // Room for two: a count of 1 means no command prompt shares the console.
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

std::string local_appdata_folder() {
  char path[MAX_PATH];
  if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path) != S_OK) return "";
  path[MAX_PATH - 1] = '\0';
  return path;
}

bool sockets_start() {
  // Once for the process: the tool ends without the matching clean-up.
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

std::string native_path(const std::string& path) { return path; }

}  // namespace doctor
