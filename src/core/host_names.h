// Operating mode and the names derived from the host executable's path.
#pragma once
#include <cstddef>

namespace core {

// 2 (dedicated server) when the path contains "w32ded" anywhere, else 1.
int mode_from_path(const char* path);

// Fills the host executable name (20 bytes) and settings file name (40 bytes)
// from the file-name part of path; a path without separator leaves both as
// they are.
void derive_host_names(const char* path, char* executable_name, size_t executable_size,
                       char* settings_name, size_t settings_size);

}  // namespace core
