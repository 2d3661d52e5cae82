// Renames on Windows: MoveFileEx replaces only when asked to.  Its error is
// handed on as errno, so refusals read as on other systems; a file in use
// (the game still running) or read-only shows as "Permission denied".
#include <windows.h>

#include <cerrno>

#include "common/file_io.h"

namespace tool {
namespace {
bool moved(BOOL ok) {
  if (ok) return true;
  switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      errno = EACCES;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      errno = ENOENT;
      break;
    default:
      errno = EIO;
  }
  return false;
}
}  // namespace

bool rename_over(const std::string& from, const std::string& to) {
  return moved(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

bool rename_new(const std::string& from, const std::string& to) {
  return moved(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH));
}

}  // namespace tool
