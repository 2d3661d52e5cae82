// ostrel-service authorize: the statistics service's authorization of a
// dedicated server from the command line.  Checks the challenge string that
// the server's gpaGetString gave and, when every digest verifies, prints the
// response (hex) to hand to its gpaProcessResponse.
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "service/authorization.h"
#include "service/deploy_file.h"

namespace {

bool hex16(const std::string& text, uint8_t out[16]) {
  if (text.size() != 32) return false;
  for (size_t i = 0; i < 16; ++i) {
    char* end = nullptr;
    std::string two = text.substr(2 * i, 2);
    out[i] = static_cast<uint8_t>(std::strtoul(two.c_str(), &end, 16));
    if (*end) return false;
  }
  return true;
}

bool file_md5(const std::string& path, uint8_t out[16]) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EVP_Digest(bytes.data(), bytes.size(), out, nullptr, EVP_md5(), nullptr);
  return true;
}

}  // namespace

// authorize <deploy.conf> --challenge TEXT (--exe FILE | --exe-md5 HEX)
//   --provider-id ID... --mod DIR... [--flags N] [--command TEXT] [--salt HEX]
int run_authorize(int argc, char** argv) {
  if (argc < 1) return 2;
  service::deploy_values values;
  std::string error;
  if (!service::read_deploy_file(argv[0], values, error)) {
    std::fprintf(stderr, "ostrel-service: %s\n", error.c_str());
    return 1;
  }
  const std::string start_text = values.get("session_reply_start_byte");
  if (start_text.empty()) {
    std::fprintf(stderr, "ostrel-service: the deployment file names no session_reply_start_byte\n");
    return 1;
  }
  const uint8_t start_byte = static_cast<uint8_t>(std::strtoul(start_text.c_str(), nullptr, 0));
  std::string challenge, command;
  std::vector<std::string> providers, mods;
  uint8_t exe[16];
  bool have_exe = false;
  uint32_t flags = 0;
  uint8_t salt[16];
  bool have_salt = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--challenge") {
      challenge = value;
    } else if (option == "--exe") {
      if (!file_md5(value, exe)) {
        std::fprintf(stderr, "ostrel-service: cannot read %s\n", value.c_str());
        return 1;
      }
      have_exe = true;
    } else if (option == "--exe-md5") {
      if (!hex16(value, exe)) return 2;
      have_exe = true;
    } else if (option == "--provider-id") {
      providers.push_back(value);
    } else if (option == "--mod") {
      mods.push_back(value);
    } else if (option == "--flags") {
      flags = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 0));
    } else if (option == "--command") {
      if (value.size() > 11) {
        std::fprintf(stderr, "ostrel-service: a granted command has at most 11 characters\n");
        return 1;
      }
      command = value;
    } else if (option == "--salt") {
      if (!hex16(value, salt)) return 2;
      have_salt = true;
    } else {
      return 2;
    }
  }
  if (argc % 2 == 0 || challenge.empty() || !have_exe || providers.empty() || mods.empty()) return 2;
  if (!have_salt && RAND_bytes(salt, sizeof salt) != 1) return 1;

  service::challenge_facts facts;
  std::string why;
  if (!service::check_challenge(challenge, start_byte, exe, providers, mods, &facts, &why)) {
    std::printf("challenge refused: %s\n", why.c_str());
    return 1;
  }
  std::printf("challenge verified: time %u, game port %u, query port %u, server %u.%u.%u.%u, "
              "interface %u.%u.%u.%u, mod %s, provider ID %s\n",
              facts.time, facts.game_port, facts.query_port, facts.server_address[0],
              facts.server_address[1], facts.server_address[2], facts.server_address[3],
              facts.interface_address[0], facts.interface_address[1], facts.interface_address[2],
              facts.interface_address[3], facts.mod_directory.c_str(), facts.provider_id.c_str());
  std::string hex;
  char two[3];
  for (uint8_t b : service::build_authorization(facts, salt, flags, command)) {
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  std::printf("response %s\n", hex.c_str());
  return 0;
}
