// Natively no console is shared with Explorer and nothing is redirected.
#include "doctor/doctor_host.h"

namespace doctor {

bool sole_console_process() { return false; }

std::string local_appdata_folder() { return ""; }

bool sockets_start() { return true; }

std::string native_path(const std::string& path) {
  std::string out = path;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

}  // namespace doctor
