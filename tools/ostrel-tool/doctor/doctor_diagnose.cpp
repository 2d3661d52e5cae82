// diagnose(): the parts in the order a reader goes through them.
#include <cstdio>

#include "doctor/doctor_findings.h"

namespace doctor {

std::vector<finding> diagnose(const folder_read& read, int64_t now, size_t log_lines) {
  std::vector<finding> out;
  if (!read.folder_exists) {
    out.push_back({level::problem, "folder", printable(read.folder) + " does not exist",
                   "give the game's folder: ostrel-tool doctor \"C:\\Games\\GAME\"", {}});
  } else {
    executable_findings(read, out);
    library_findings(read, out);
  }
  user_file_findings(read, now, out);
  registry_findings(read.registry, out);
  for (const executable_read& exe : read.executables)
    if (is_game_executable(exe)) log_findings(read, exe, log_lines, out);
  server_findings(read, now, out);
  return out;
}

std::string age_text(int64_t seconds) {
  if (seconds < 0) seconds = -seconds;
  if (seconds < 120) return std::to_string(seconds) + " s";
  if (seconds < 7200) return std::to_string(seconds / 60) + " min";
  if (seconds < 2 * 86400)
    return std::to_string(seconds / 3600) + " h " + std::to_string(seconds % 3600 / 60) + " min";
  return std::to_string(seconds / 86400) + " days";
}

}  // namespace doctor
