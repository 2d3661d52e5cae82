// What only a dedicated server needs: the provider ID file with which it signs
// its snapshots and session requests, and its statistics queue.
#include <string>

#include "doctor_findings.h"
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
// The finding for the statistics queue folder (how many snapshots wait, the
// oldest one's age) plugs in here, once the library keeps its queue in a
// folder: read the folder in gather_folder (doctor_gather.cpp), judge it here.
void statistics_queue_finding(const folder_read&, int64_t, std::vector<finding>&) {}

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
