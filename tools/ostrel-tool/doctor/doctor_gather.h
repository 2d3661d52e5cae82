// Reading what the doctor judges: the game folder's executables and files,
// the per-user folder (through the library's own path rules), the registry
// (through the platform seam), each file read only up to a limit.  Nothing is
// written but one file of the tool's own in the per-user folder, removed again.
#pragma once
#include <string>

#include "doctor/doctor_findings.h"

namespace doctor {

// Files are read up to this many bytes (a log: its last bytes).
inline constexpr size_t read_limit = size_t{1} << 20;
inline constexpr size_t log_tail_limit = 256 * 1024;

folder_read gather_folder(const std::string& folder, int64_t now);

// The tool's own executable names, never taken for the game's.
bool is_tool_name(const std::string& file_name);

// A file's first limit bytes (tail: its last), with its size and date.
file_read read_file(const std::string& path, size_t limit, bool tail = false);

}  // namespace doctor
