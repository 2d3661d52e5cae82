// The statistics service's side of a dedicated server's authorization: checks
// a challenge string (every digest, from what the service knows: the server
// executable's MD5, the provider IDs it issued, the mod directories it
// accepts) and builds the response that grants session flags and a console
// command.  Written from the protocol's tables on its own, with OpenSSL's MD5,
// so that it checks the library rather than mirroring it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace service {

// What a verified challenge told the service.
struct challenge_facts {
  uint8_t nonce[16] = {};
  uint32_t time = 0;
  uint16_t game_port = 0;
  uint16_t query_port = 0;
  uint8_t interface_address[4] = {};  // as sent (network order)
  uint8_t server_address[4] = {};
  std::string time_text;
  std::string provider_id;
  std::string mod_directory;
};

// Which digests of a challenge verify, each on its own.
struct challenge_digests {
  bool identity = false;
  bool mod = false;         // for facts.mod_directory
  bool provider = false;    // for facts.provider_id
  bool executable = false;  // the executable check digest, for the MD5 given
};

// Reads a challenge and checks every digest without stopping at the first
// that differs, so that an operator sees all of them: false and why when the
// text is no challenge string (length, prefix, digits); otherwise true, the
// deciphered fields (the mod directory and provider ID that matched, if any)
// and which digests verify.
bool read_challenge(const std::string& challenge, uint8_t start_byte, const uint8_t executable_md5[16],
                    const std::vector<std::string>& provider_ids,
                    const std::vector<std::string>& mod_directories, challenge_facts* facts,
                    challenge_digests* digests, std::string* why);

// Why a read challenge is refused: the first digest that does not verify, in
// the order the service checks them; nullptr when every one does.
const char* challenge_failure(const challenge_digests& digests);

// true and the facts when every digest of the challenge verifies with one of
// the provider IDs and one of the mod directories; false and why otherwise.
// start_byte: the chain cipher's starting byte of the identity block.
bool check_challenge(const std::string& challenge, uint8_t start_byte, const uint8_t executable_md5[16],
                     const std::vector<std::string>& provider_ids,
                     const std::vector<std::string>& mod_directories, challenge_facts* facts,
                     std::string* why);

// The 48-byte authorization response for a verified challenge.  The command
// is at most 11 bytes; length_byte, when not -1, is written as the grant's
// length in its place (so tests can send lengths the library must refuse).
std::vector<uint8_t> build_authorization(const challenge_facts& facts, const uint8_t salt[16],
                                         uint32_t flags, const std::string& command,
                                         int length_byte = -1);

}  // namespace service
