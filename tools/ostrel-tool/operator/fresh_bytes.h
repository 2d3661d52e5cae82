// A nonce or a salt for a message the tool builds: the operator's own value
// (hex, to build the same bytes again) or fresh bytes from the system.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace tool {

// hex empty: size random bytes into out.  Otherwise exactly 2 * size hex
// digits; false and one line naming option when they are not.
bool given_or_fresh(const std::string& option, const std::string& hex, uint8_t* out, size_t size,
                    std::string& error);

}  // namespace tool
