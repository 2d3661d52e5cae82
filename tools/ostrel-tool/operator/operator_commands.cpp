// The operators' half of the command table.
#include "operator/operator_commands.h"

namespace tool {

void add_operator_commands(CLI::App& app, int& result) {
  add_lookup_commands(app, result);
  add_stats_commands(app, result);
  add_ranked_commands(app, result);
  add_authorization_commands(app, result);
}

}  // namespace tool
