// Ranked list blobs built here, independently of the library and of the
// reference master: OpenSSL's MD5 resumed from the deployment's chaining
// values, and the list cipher written out in its enciphering direction.
#pragma once
#include <openssl/md5.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "deploy_values.h"
#include "service/ranked_messages.h"

namespace ranked_test {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
// MD5 resumed from a chaining value as if a 64-byte block had been absorbed.
inline std::vector<uint8_t> keyed_md5(const uint32_t chain[4], const std::vector<uint8_t>& data) {
  MD5_CTX ctx;
  MD5_Init(&ctx);
  ctx.A = chain[0];
  ctx.B = chain[1];
  ctx.C = chain[2];
  ctx.D = chain[3];
  ctx.Nl = 512;
  ctx.Nh = 0;
  MD5_Update(&ctx, data.data(), data.size());
  std::vector<uint8_t> out(16);
  MD5_Final(out.data(), &ctx);
  return out;
}
#pragma GCC diagnostic pop

// The reference master's keys: the deployment values the library was built with.
inline service::ranked_keys dll_keys() {
  return service::make_ranked_keys(deploy::ranked_key_chain, deploy::ranked_mac_chain,
                                   deploy::ranked_feedback);
}

inline std::vector<uint8_t> nonce_of(uint8_t seed) {
  std::vector<uint8_t> nonce(16);
  for (int i = 0; i < 16; ++i) nonce[i] = static_cast<uint8_t>(seed * 31 + i * 7);
  return nonce;
}

// A record: flag byte, address bytes, and the port little-endian unless the
// flag has bit 7.
inline void add_record(std::vector<uint8_t>& body, uint8_t flag, const uint8_t address[4],
                       uint16_t port = 0) {
  body.push_back(flag);
  body.insert(body.end(), address, address + 4);
  if (!(flag & 0x80)) {
    body.push_back(static_cast<uint8_t>(port));
    body.push_back(static_cast<uint8_t>(port >> 8));
  }
}

// Body head: serial, reserved word, default port.
inline std::vector<uint8_t> body_head(uint16_t default_port) {
  std::vector<uint8_t> body = {0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0};
  body.push_back(static_cast<uint8_t>(default_port));
  body.push_back(static_cast<uint8_t>(default_port >> 8));
  return body;
}

inline std::vector<uint8_t> seal(const std::vector<uint8_t>& plain, const std::vector<uint8_t>& nonce,
                                 uint8_t version = 1) {
  std::vector<uint8_t> signed_part = nonce;
  signed_part.insert(signed_part.end(), plain.begin(), plain.end());
  const std::vector<uint8_t> signature = keyed_md5(deploy::ranked_mac_chain, signed_part);
  const std::vector<uint8_t> key = keyed_md5(deploy::ranked_key_chain, nonce);
  std::vector<uint8_t> blob = {version};
  blob.insert(blob.end(), nonce.begin(), nonce.end());
  blob.insert(blob.end(), signature.begin(), signature.end());
  uint8_t feedback[16];
  std::memcpy(feedback, deploy::ranked_feedback, 16);
  for (size_t i = 0; i < plain.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(plain[i] ^ key[i % 16] ^ feedback[i % 16]);
    feedback[i % 16] = c;
    blob.push_back(c);
  }
  return blob;
}

}  // namespace ranked_test
