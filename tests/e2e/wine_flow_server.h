// hostsim's server copy under Wine as the dedicated server of the shared
// server flow: script lines, host module answers, console commands and the
// game socket through hostsim's commands.  Shared by the end-to-end tier and
// the demo.
#pragma once
#include "server_flow.h"
#include "wine_host.h"

namespace e2e {

// Starts hostsim's server copy and its runtime with no python/ folder and no
// look-up cache files left by earlier runs (the table must come from the
// flow's lookup service); true when both run.
bool start_flow_server(hostsim& server);
// The flow's view of it; server must outlive the result.
server_flow::server flow_server(hostsim& server);
// Removes what the flow left in the server's folder.
void clean_flow_server();

}  // namespace e2e
