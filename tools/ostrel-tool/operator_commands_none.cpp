// The players' build carries patch-exe only; the operators' commands live in
// the native build beside the reference service.
#include "commands.h"

namespace tool {

void add_operator_commands(CLI::App&, int&) {}

}  // namespace tool
