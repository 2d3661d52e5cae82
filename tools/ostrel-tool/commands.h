// The sub-commands, registered on the tool's command line by group.  Each
// callback stores its exit code in result.
#pragma once
#include <CLI/CLI.hpp>

namespace tool {

void add_player_commands(CLI::App& app, int& result);    // patch-exe, doctor
void add_operator_commands(CLI::App& app, int& result);  // none in the players' build
void add_stats_commands(CLI::App& app, int& result);     // snapshot, session
void add_ranked_commands(CLI::App& app, int& result);    // ranked sign, verify, decode
void add_authorization_commands(CLI::App& app, int& result);  // challenge check, response build

}  // namespace tool
