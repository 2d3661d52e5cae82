// Renames on POSIX systems: rename() replaces; a hard link refuses an existing name.
#include <stdio.h>
#include <unistd.h>

#include "common/file_io.h"

namespace tool {

bool rename_over(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool rename_new(const std::string& from, const std::string& to) {
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

}  // namespace tool
