// Nonces and salts of the messages the tool builds.
#include "operator/fresh_bytes.h"

#include <random>

#include "common/text_input.h"

namespace tool {

bool given_or_fresh(const std::string& option, const std::string& hex, uint8_t* out, size_t size,
                    std::string& error) {
  if (hex.empty()) {
    std::random_device random;
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(random());
    return true;
  }
  if (parse_hex_bytes(hex, out, size)) return true;
  error = option + " takes " + std::to_string(2 * size) + " hex digits, not \"" + hex + "\"";
  return false;
}

}  // namespace tool
