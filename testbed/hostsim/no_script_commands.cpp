// The client and plain copies of hostsim embed no script runtime.
#include "commands.h"

bool run_script_command(const std::string&, std::istringstream&, std::string&) { return false; }
