// The provider ID: the text credential a server operator places beside the
// game's scripts, with which snapshots and session requests are signed.
#pragma once
#include <cstddef>

namespace snapshot {

inline constexpr size_t provider_id_size = 300;  // at most 299 characters and a NUL

// Where the file is looked for, relative to the working folder, in order.
inline constexpr const char* provider_id_paths[] = {
    "python/bf2/ostrel/ostrelProviderID.sec",
    "python/bf2/ostrel/stats/ostrelProviderID.sec",
    "python/bf2/stats/ostrelProviderID.sec",
};

// Fills out (provider_id_size bytes) from the first of the three provider ID
// files that opens (relative to the working folder), white space and NULs
// left out and cut to 299 characters; empty when none opens.  Returns out.
char* load_provider_id(char* out);

}  // namespace snapshot
