// Windows files and folders: the roaming application-data folder, folder
// creation, and the rename that replaces a file in one step.
#include <windows.h>
#include <shlobj.h>

#include "platform/platform.h"

namespace platform {

FILE* open_file(const char* path, const char* mode) { return std::fopen(path, mode); }

int appdata_folder(char* out, size_t size) {
  char path[MAX_PATH] = {};
  if (size == 0 || FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, path))) return 1;
  path[MAX_PATH - 1] = '\0';
  size_t n = 0;
  while (path[n] && n + 1 < size) {
    out[n] = path[n];
    ++n;
  }
  out[n] = '\0';
  return path[n] ? 1 : 0;
}

void create_folder(const char* path) { CreateDirectoryA(path, nullptr); }

int replace_file(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}

void remove_file(const char* path) { DeleteFileA(path); }

}  // namespace platform
