// The text list of servers that ranked sign seals into a blob: one
// "ADDRESS[:PORT] [FLAGS]" line per server, "#" comments and blank lines
// ignored.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "service/ranked_messages.h"

namespace tool {

// The servers of text, a port left out being default_port and flags left out
// 1; false and one line naming the first bad line otherwise (and for more
// servers than a list holds).
bool parse_server_list(const std::string& text, uint16_t default_port,
                       std::vector<service::ranked_server>& out, std::string& error);

}  // namespace tool
