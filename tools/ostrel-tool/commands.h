// The players' commands, registered on the tool's command line beside the
// operators' (operator/operator_commands.h); a callback stores its exit code
// in result.
#pragma once
#include <CLI/CLI.hpp>

namespace tool {

void add_player_commands(CLI::App& app, int& result);  // patch-exe, doctor

}  // namespace tool
