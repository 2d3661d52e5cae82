// The operators' commands.
#include "commands.h"

namespace tool {

void add_operator_commands(CLI::App&, int&) {}

}  // namespace tool
