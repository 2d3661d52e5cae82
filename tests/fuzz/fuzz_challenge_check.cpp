// The reference statistics service's check of a challenge string: any text,
// with a few provider IDs and mod directories, never reads out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "service/authorization.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const uint8_t exe[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const uint8_t start = size > 0 ? data[0] : 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  service::challenge_facts facts;
  std::string why;
  service::check_challenge(text, start, exe, {"", "provider"}, {"mods/bf2", ""}, &facts, &why);
  // The same text behind the prefix, so that the hex fields are reached.
  service::check_challenge("R4-" + text, start, exe, {"provider"}, {"mods/bf2"}, &facts, &why);
  return 0;
}
