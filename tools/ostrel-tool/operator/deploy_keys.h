// The statistics service's values of a deployment file (--deploy), as the
// commands for its messages read them.
#pragma once
#include <string>

#include "service/stats_messages.h"

namespace tool {

// false and one line naming the file when it cannot be read or lacks a value.
bool read_stats_keys(const std::string& deploy_file, service::stats_keys& keys, std::string& error);

}  // namespace tool
