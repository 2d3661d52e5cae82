// The players' build carries the players' commands alone (patch-exe and the
// doctor, which need nothing but the library): the operators' commands live in
// the native build beside the reference service, whose code they check through.
#include "operator/operator_commands.h"

namespace tool {

void add_operator_commands(CLI::App&, int&) {}

}  // namespace tool
