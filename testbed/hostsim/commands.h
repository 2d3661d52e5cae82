// hostsim's command families kept in files of their own.  Each returns true
// when it knows the command and then sets the one-line answer.
#pragma once
#include <sstream>
#include <string>

struct hostent;
// "name=<n> type=<t> len=<l> addrs=<a,b> aliases=<x,y>": a host entry exactly.
std::string describe_host(const hostent* h);

// Registry values, the launcher role and per-user files.
bool run_registry_command(const std::string& cmd, std::istringstream& in, std::string& answer);
// Name resolution beyond a single look-up (several threads at once, and so on).
bool run_name_command(const std::string& cmd, std::istringstream& in, std::string& answer);
// Long runs: resource samples, commands on threads of their own, socket churn.
bool run_soak_command(const std::string& cmd, std::istringstream& in, std::string& answer);
// Runs one command line as the command loop does (any thread): its answer.
std::string run_line(const std::string& line);
// The embedded script runtime (the server copy only; the others answer false).
bool run_script_command(const std::string& cmd, std::istringstream& in, std::string& answer);
