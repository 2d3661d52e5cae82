// The reference statistics service's check of a challenge string, two ways.
// Any text, with a few provider IDs and mod directories, never reads out of
// bounds.  Then the challenge the library composes for a server taken from
// the input verifies there, with the facts it commits to.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/bytes.h"
#include "deploy_values.h"
#include "lookup_signing.h"
#include "script/challenge.h"
#include "service/authorization.h"

namespace {

using fuzz_support::check;

void any_text(const uint8_t* data, size_t size) {
  static const uint8_t exe[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const uint8_t start = size > 0 ? data[0] : 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  service::challenge_facts facts;
  std::string why;
  service::check_challenge(text, start, exe, {"", "provider"}, {"mods/bf2", ""}, &facts, &why);
  // The same text behind the prefix, so that the hex fields are reached.
  service::check_challenge("R4-" + text, start, exe, {"provider"}, {"mods/bf2"}, &facts, &why);
}

void composed(const uint8_t* data, size_t size) {
  // Nonce, executable digest, time, ports, addresses: 48 bytes; then the
  // provider ID and the mod directory, split by the first byte after them.
  uint8_t head[49] = {};
  std::memcpy(head, data, size < sizeof head ? size : sizeof head);
  const size_t rest = size > sizeof head ? size - sizeof head : 0;
  const char* texts = reinterpret_cast<const char*>(data + (size > sizeof head ? sizeof head : size));
  const size_t split = rest ? head[48] % (rest + 1) : 0;
  const std::string provider = std::string(texts, split).c_str();
  const std::string mod = std::string(texts + split, rest - split).c_str();

  script::challenge_state c{};
  std::memcpy(c.nonce, head, 16);
  c.time = bytes::load_u32le(head + 32);
  const std::string time_text = std::to_string(c.time);
  c.server = {bytes::load_u16le(head + 36), bytes::load_u16le(head + 38),
              bytes::load_u32le(head + 40), bytes::load_u32le(head + 44), provider.c_str()};
  c.time_text = time_text.c_str();
  c.mod_directory = mod.c_str();
  char text[script::challenge_length + 1];
  script::compose_challenge(c, head + 16, text);

  service::challenge_facts facts;
  std::string why;
  check(service::check_challenge(text, deploy::session_reply_start_byte, head + 16, {provider},
                                 {mod}, &facts, &why));
  check(std::memcmp(facts.nonce, c.nonce, 16) == 0);
  check(facts.time == c.time && facts.time_text == time_text);
  check(facts.game_port == c.server.game_port && facts.query_port == c.server.query_port);
  check(std::memcmp(facts.server_address, head + 40, 4) == 0);
  check(std::memcmp(facts.interface_address, head + 44, 4) == 0);
  check(facts.provider_id == provider && facts.mod_directory == mod);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  any_text(data, size);
  composed(data, size);
  return 0;
}
