// Which game modification the host runs, from its command line.
#pragma once

namespace core {

// 1 for the base game or its official expansion ("bf2", "xpack" or no
// modification folder), 2 for any other modification.
int detect_mod_kind(const char* command_line);
int detect_mod_kind();  // over the host process's command line

}  // namespace core
