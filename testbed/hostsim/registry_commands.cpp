// hostsim commands for registry values, the launcher role and per-user files.
#include <windows.h>

#include "commands.h"

bool run_registry_command(const std::string&, std::istringstream&, std::string&) { return false; }
