// The authorization response as gpaProcessResponse checks it: any bytes, of
// any length, against a fixed current challenge.  The first byte picks how
// much of the input the challenge's texts take, so odd texts are covered too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "script/challenge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  script::challenge_state c{};
  std::string provider = "provider", mod = "mods/bf2", time_text = "1700000000";
  if (size > 0) {
    const size_t take = data[0] % 32 < size - 1 ? data[0] % 32 : size - 1;
    provider.assign(reinterpret_cast<const char*>(data + 1), take);
    provider = provider.c_str();  // a text ends at its first NUL
    data += 1 + take;
    size -= 1 + take;
  }
  c.server = {16567, 29900, 0x0100007F, 0x0100007F, provider.c_str()};
  c.time_text = time_text.c_str();
  c.mod_directory = mod.c_str();
  script::grant g{};
  if (script::check_response(c, data, size, &g) == 0) {
    // An accepted grant's command is a terminated text of at most 11 bytes.
    size_t n = 0;
    while (n < sizeof g.command && g.command[n]) ++n;
    if (n > script::command_max) __builtin_trap();
  }
  return 0;
}
