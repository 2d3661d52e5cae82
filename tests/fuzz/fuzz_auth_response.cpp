// The authorization response as gpaProcessResponse checks it, two ways.
// Any bytes, of any length, against a fixed current challenge (the first byte
// picks how much of the input the challenge's texts take, so odd texts are
// covered too).  Then a response the reference service builds for a challenge
// and grant taken from the input: it must be accepted with exactly that grant,
// and with one byte of it changed it is refused, or (the length byte, the
// padding) still gives that grant.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "lookup_signing.h"
#include "script/challenge.h"
#include "service/authorization.h"

namespace {

using fuzz_support::check;

// Reads fixed fields off the front of the input; zeros past its end.
struct reader {
  const uint8_t* data;
  size_t size;
  void take(void* out, size_t n) {
    const size_t k = n < size ? n : size;
    std::memset(out, 0, n);
    std::memcpy(out, data, k);
    data += k;
    size -= k;
  }
  uint32_t u32() {
    uint8_t b[4];
    take(b, 4);
    return bytes::load_u32le(b);
  }
  // A text of at most max bytes, ending at the input's first NUL.
  std::string text(size_t max) {
    uint8_t n = 0;
    take(&n, 1);
    std::string t(reinterpret_cast<const char*>(data), n % (max + 1) < size ? n % (max + 1) : size);
    data += t.size();
    size -= t.size();
    return t.c_str();
  }
};

void any_bytes(const uint8_t* data, size_t size) {
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
    check(n <= script::command_max);
  }
}

void granted(const uint8_t* data, size_t size) {
  reader in{data, size};
  script::challenge_state c{};
  in.take(c.nonce, sizeof c.nonce);
  c.time = in.u32();
  const uint32_t ports = in.u32();
  const uint32_t interface_address = in.u32(), server_address = in.u32();
  uint8_t salt[16];
  in.take(salt, sizeof salt);
  const uint32_t flags = in.u32();
  uint8_t change[2];  // where one byte of the response changes, and how
  in.take(change, sizeof change);
  const std::string command = in.text(script::command_max);
  const std::string provider = in.text(64);
  const std::string mod = in.text(64);
  const std::string time_text = std::to_string(c.time);
  c.server = {static_cast<uint16_t>(ports), static_cast<uint16_t>(ports >> 16), server_address,
              interface_address, provider.c_str()};
  c.time_text = time_text.c_str();
  c.mod_directory = mod.c_str();

  service::challenge_facts facts;
  std::memcpy(facts.nonce, c.nonce, 16);
  facts.time = c.time;
  facts.game_port = c.server.game_port;
  facts.query_port = c.server.query_port;
  std::memcpy(facts.interface_address, &interface_address, 4);
  std::memcpy(facts.server_address, &server_address, 4);
  facts.time_text = time_text;
  facts.provider_id = provider;
  facts.mod_directory = mod;
  std::vector<uint8_t> response = service::build_authorization(facts, salt, flags, command);
  check(response.size() == script::response_min_size);

  script::grant g{};
  check(script::check_response(c, response.data(), response.size(), &g) == 0);
  check(g.flags == flags && command == g.command);

  // A change to the salt, the check digest, the flags or the command's bytes
  // is refused; one to the length byte or past the command may pass (the
  // padding reads as the command's end) but grants the same.
  const size_t at = change[0] % response.size();
  response[at] ^= static_cast<uint8_t>(change[1] | 1);
  script::grant changed{};
  const int result = script::check_response(c, response.data(), response.size(), &changed);
  const size_t command_at = script::ar_grant + script::gb_command;
  if (at < script::ar_grant + script::gb_command_length ||
      (at >= command_at && at < command_at + command.size()))
    check(result == 1);
  if (result == 0) check(changed.flags == flags && command == changed.command);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  any_bytes(data, size);
  granted(data, size);
  return 0;
}
