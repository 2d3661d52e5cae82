// Windows files and folders: the roaming application-data folder, folder
// creation, the rename that replaces a file in one step, and the writes that
// must survive a power cut and a second process: CREATE_NEW is the exclusive
// claim of a name ("CreateFileA function"), FlushFileBuffers puts the bytes on
// the disk before the name that shows them ("FlushFileBuffers function"), and
// MoveFileExA without MOVEFILE_REPLACE_EXISTING fails when the new name exists,
// while MOVEFILE_WRITE_THROUGH returns only once the move is on the disk
// ("MoveFileExA function").
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

int file_status(const char* path) {
  return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

int replace_file(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}

void remove_file(const char* path) { DeleteFileA(path); }

int write_new_file(const char* path, const void* data, size_t size) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const char* p = static_cast<const char*>(data);
  bool written = true;
  while (written && size > 0) {
    const DWORD piece = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
    DWORD done = 0;
    written = WriteFile(file, p, piece, &done, nullptr) && done == piece;
    p += piece;
    size -= piece;
  }
  written = written && FlushFileBuffers(file);
  const bool closed = CloseHandle(file) != 0;
  if (written && closed) return 0;
  DeleteFileA(path);
  return 1;
}

int move_file_exclusive(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) ? 0 : 1;
}

int replace_file_durable(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : 1;
}

int list_folder(const char* folder, void (*each)(const char* name, bool is_folder, void* context),
                void* context) {
  char pattern[MAX_PATH];
  size_t n = 0;
  for (; folder[n] && n + 3 < sizeof pattern; ++n) pattern[n] = folder[n];
  if (folder[n]) return 1;  // would list some other folder
  pattern[n++] = '\\';
  pattern[n++] = '*';
  pattern[n] = '\0';
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : 1;
  do {
    const char* name = found.cFileName;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    each(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, context);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return 0;
}

}  // namespace platform
