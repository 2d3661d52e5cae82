// The ranked server list as the reference master server makes it: the body
// of entry records, sealed into a blob (signed with the MAC chaining value,
// enciphered with the list cipher keyed from the nonce), and the keys read
// from the deployment file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "service/deploy_file.h"

namespace service {

struct ranked_keys {
  uint32_t key_chain[4] = {};
  uint32_t mac_chain[4] = {};
  uint8_t feedback[16] = {};
};

// The keys from values at hand (the DLL's built-in deployment values in tests).
ranked_keys make_ranked_keys(const uint32_t key_chain[4], const uint32_t mac_chain[4],
                             const uint8_t feedback[16]);
// false when a key is missing or malformed in the deployment file.
bool read_ranked_keys(const deploy_values& values, ranked_keys& out);

// One listed server: address in network byte order, port in host order, the
// flags byte's low six bits.
struct ranked_server {
  uint32_t address = 0;
  uint16_t port = 0;
  uint8_t flags = 1;
};

// The plain body: serial, a reserved word, the default port, then one record
// per server (5 bytes when the server uses the default port, 7 otherwise) and
// a closing 0 flag byte.
std::vector<uint8_t> ranked_body(uint32_t serial, uint16_t default_port,
                                 const std::vector<ranked_server>& servers);

// Version, nonce, signature over nonce and plain body, enciphered body.
std::vector<uint8_t> seal_ranked_blob(const ranked_keys& keys, const uint8_t nonce[16],
                                      const std::vector<uint8_t>& plain_body);

}  // namespace service
