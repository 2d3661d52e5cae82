// Operating mode and host executable, settings file names from the path.
#include "core/host_names.h"

#include <cstring>

#include "base/text.h"

namespace core {

int mode_from_path(const char* path) { return std::strstr(path, "w32ded") ? 2 : 1; }

void derive_host_names(const char* path, char* executable_name, size_t executable_size,
                       char* settings_name, size_t settings_size) {
  const char* part = nullptr;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/') part = p + 1;
  if (!part) return;
  text::format_bounded(executable_name, executable_size, "%s", part);
  text::format_bounded(settings_name, settings_size, "ostrel_%s.cfg", part);
}

}  // namespace core
