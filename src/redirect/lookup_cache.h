// Look-up cache files "network_%d_%s" in the per-user folder.
#pragma once
#include <cstdint>

namespace redirect {

// Installs the cached answer of file `number` when it is younger than max_age
// seconds; 0 when installed, 1 otherwise.
int load_cache(int number, uint32_t max_age);

}  // namespace redirect
