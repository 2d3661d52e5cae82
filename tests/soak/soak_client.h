// The game client's side of a soak: hostsim's client copy under Wine, with
// queries to a few dozen loopback game servers, name look-ups, ranked-list
// refreshes and socket churn on threads of their own, every answer checked.
#pragma once
#include <string>
#include <vector>

#include "service/lookup_service.h"
#include "soak_samples.h"

namespace soak {

struct client_report {
  long batches = 0, threads = 0;
  long queries = 0, queries_wrong = 0, queries_unanswered = 0;
  long lookups = 0, lookups_wrong = 0;
  long refreshes = 0, refreshes_failed = 0;
  std::vector<sample> samples;
  std::vector<std::string> wrong;  // the first few wrong answers, whole
  std::string failure;             // why the load stopped early, if it did
  std::string log_folder;          // the client's logs\ostrel
};

// Runs for seconds; lookup is the running lookup service, whose table it
// changes as it goes.
client_report run_client(double seconds, service::lookup_service& lookup);

}  // namespace soak
