// Renames on Windows: MoveFileEx replaces only when asked to.
#include <windows.h>

#include "file_io.h"

namespace tool {

bool rename_over(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool rename_new(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace tool
