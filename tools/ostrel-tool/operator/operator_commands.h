// The operators' commands by group; each registers its sub-commands on the
// tool's command line and stores a callback's exit code in result.
#pragma once
#include <CLI/CLI.hpp>

namespace tool {

// Every group below; the players' build registers none.
void add_operator_commands(CLI::App& app, int& result);

void add_lookup_commands(CLI::App& app, int& result);         // namekey, lookup, cache
void add_stats_commands(CLI::App& app, int& result);          // snapshot, session
void add_ranked_commands(CLI::App& app, int& result);         // ranked sign, verify, decode
void add_authorization_commands(CLI::App& app, int& result);  // challenge check, response build

}  // namespace tool
