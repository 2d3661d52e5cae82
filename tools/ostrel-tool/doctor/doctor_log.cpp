// Today's log file of an executable: where the library writes it, where it
// lands under Windows' file virtualization, and its last lines.
#include <string>

#include "doctor/doctor_findings.h"

namespace doctor {
namespace {

std::vector<std::string> last_lines(const std::vector<uint8_t>& bytes, size_t count) {
  std::vector<std::string> lines;
  size_t end = bytes.size();
  if (end > 0 && bytes[end - 1] == '\n') --end;
  while (lines.size() < count && end > 0) {
    size_t start = end;
    while (start > 0 && bytes[start - 1] != '\n') --start;
    std::string line(bytes.begin() + static_cast<long>(start), bytes.begin() + static_cast<long>(end));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.insert(lines.begin(), printable(line));
    if (start == 0) break;
    end = start - 1;
  }
  return lines;
}

}  // namespace

void log_findings(const folder_read& read, const executable_read& exe, size_t count,
                  std::vector<finding>& out) {
  const char* topic = "log";
  const std::string name = printable(exe.log_name);
  std::string redirect_note;
  if (!read.virtual_store.empty())
    redirect_note = "; the game folder lies under Program Files, where Windows (UAC) redirects "
                    "the writes of a 32-bit game without a manifest to " +
                    printable(read.virtual_store) + "\\logs\\ostrel";
  if (!read.logs_folder && !read.virtual_logs_folder) {
    out.push_back({level::ok, topic,
                   printable(exe.name) + ": logging is off: the library writes " + name +
                       " only when the folder logs\\ostrel exists in the game folder (create it "
                       "to switch logging on)" + redirect_note,
                   "", {}});
    return;
  }
  const file_read* file = &exe.log;
  std::string where = name;
  if (!exe.log.present && exe.virtual_log.present) {
    file = &exe.virtual_log;
    where = printable(exe.virtual_log_path);
  }
  if (!file->present) {
    out.push_back({level::ok, topic,
                   printable(exe.name) + ": " + name + ": nothing logged today yet" + redirect_note,
                   "", {}});
    return;
  }
  if (!file->error.empty()) {
    out.push_back({level::warning, topic, where + ": cannot be read (" + file->error + ")", "", {}});
    return;
  }
  std::vector<std::string> lines = last_lines(file->bytes, count);
  out.push_back({level::ok, topic,
                 printable(exe.name) + ": " + where + ", " + std::to_string(file->size) +
                     " bytes" + redirect_note + "; its last " + std::to_string(lines.size()) +
                     " line(s):",
                 "", std::move(lines)});
}

}  // namespace doctor
