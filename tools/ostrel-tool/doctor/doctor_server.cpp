// What only a dedicated server needs: the provider ID file with which it signs
// its snapshots and session requests, and its statistics queue.
#include <string>

#include "doctor/doctor_findings.h"
#include "snapshot/provider_id.h"

namespace doctor {
namespace {

void provider_finding(const folder_read& read, std::vector<finding>& out) {
  const char* topic = "provider ID";
  const std::string hint = std::string("place the provider ID you were given in ") +
                           snapshot::provider_id_paths[0] + " under the server's folder";
  if (read.provider_path.empty()) {
    out.push_back({level::problem, topic,
                   "no provider ID file: the server cannot sign its snapshots and session requests",
                   hint, {}});
    return;
  }
  if (!read.provider.error.empty()) {
    out.push_back({level::problem, topic,
                   read.provider_path + ": cannot be read (" + read.provider.error + ")", hint, {}});
    return;
  }
  // The library keeps everything but white space and NULs, up to 299 characters.
  size_t length = 0;
  for (uint8_t c : read.provider.bytes)
    if (c != '\t' && c != '\r' && c != '\n' && c != ' ' && c != '\0') ++length;
  if (length == 0) {
    out.push_back({level::problem, topic,
                   read.provider_path + ": empty, and as the first file found it is the one used",
                   hint, {}});
    return;
  }
  // The ID is a credential: its length is shown, never its text.
  out.push_back({level::ok, topic,
                 read.provider_path + ": " +
                     std::to_string(length < snapshot::provider_id_size - 1
                                        ? length
                                        : snapshot::provider_id_size - 1) +
                     " characters" + (length >= snapshot::provider_id_size ? " (cut to 299)" : ""),
                 "", {}});
}

// ---- Statistics queue -------------------------------------------------------
// Snapshots wait in the queue folder only until the statistics service takes
// them (a second or so while it answers): an old one means uploads fail.
constexpr int64_t queue_stale_s = 10 * 60;
constexpr size_t queue_slots = 10;

void statistics_queue_finding(const folder_read& read, int64_t now, std::vector<finding>& out) {
  const queue_read& q = read.queue;
  const char* topic = "statistics queue";
  if (!q.present) return;  // made with the first snapshot
  const std::string where = printable(q.folder);
  if (!q.error.empty()) {
    out.push_back({level::warning, topic, printable(q.error), "", {}});
    return;
  }
  if (q.set_aside)
    out.push_back({level::warning, topic,
                   where + ": " + std::to_string(q.set_aside) +
                       " file(s) set aside (damaged or not the library's): never sent",
                   "", {}});
  if (q.waiting == 0) {
    out.push_back({level::ok, topic, where + ": no snapshot waits", "", {}});
    return;
  }
  const int64_t age = q.oldest_submitted && now > q.oldest_submitted ? now - q.oldest_submitted : 0;
  std::string text = where + ": " + std::to_string(q.waiting) + " snapshot(s) wait, the oldest " +
                     age_text(age) + " old";
  if (q.waiting > queue_slots)
    text += "; the server keeps the newest " + std::to_string(queue_slots) +
            " when it starts, the others are dropped";
  // A warning, not a problem: a server that has not run since sends them at
  // its next start.
  if (age >= queue_stale_s)
    out.push_back({level::warning, topic,
                   text + ": uploads to the statistics service fail, or the server has not run "
                          "since; the SNAPSHOT lines of its log say why",
                   "", {}});
  else
    out.push_back({level::ok, topic, text, "", {}});
}

}  // namespace

void server_findings(const folder_read& read, int64_t now, std::vector<finding>& out) {
  bool server = false;
  for (const executable_read& exe : read.executables)
    server = server || (is_server(exe) && is_game_executable(exe));
  if (!server) return;
  provider_finding(read, out);
  statistics_queue_finding(read, now, out);
}

}  // namespace doctor
