// The dedicated server's side of a soak: hostsim's server copy under Wine
// with the real runtime, submitting snapshots through the script module all
// the time while the statistics web server follows a fault schedule, the
// session exchange runs, and the server is killed outright and started again.
#pragma once
#include <string>
#include <vector>

#include "server_flow.h"
#include "soak_samples.h"

namespace soak {

struct server_report {
  long submitted = 0, declined = 0;  // glsSendSnapshot's True and anything else
  long delivered_once = 0, delivered_twice = 0, delivered_unknown = 0;
  long dropped_logged = 0, lost = 0;
  long both = 0;          // delivered and dropped too
  long unconfirmed = 0;   // taken by the web server, its reply cut at the library's deadline
  long files_left = -1;   // in the queue folder at the end
  long kills = 0, script_lines = 0, echoed = 0, exchanges = 0;
  std::vector<std::string> schedule;  // the faults, as they were set
  std::vector<sample> samples;        // of the server that ran last
  std::vector<std::string> notes;     // the first few oddities, whole
  std::string failure;
  std::string log_folder;
};

server_report run_server(double seconds, server_flow::reference_service& service);

}  // namespace soak
