// hostsim commands for name resolution beyond a single look-up.
#include <winsock2.h>

#include "commands.h"

bool run_name_command(const std::string&, std::istringstream&, std::string&) { return false; }
