// Ranked list blobs of the reference master server.  The cipher runs here in
// its enciphering direction, written apart from the library's deciphering.
#include "service/ranked_messages.h"

#include <cstring>

#include "digest/md5.h"

namespace service {
namespace {
void put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, static_cast<uint16_t>(v));
  put16(out, static_cast<uint16_t>(v >> 16));
}
void keyed_md5(const uint32_t chain[4], const std::vector<uint8_t>& data, uint8_t out[16]) {
  digest::md5_context ctx;
  digest::md5_start_chained(ctx, chain);
  digest::md5_update(ctx, data.data(), static_cast<uint32_t>(data.size()));
  digest::md5_final(ctx);
  std::memcpy(out, ctx.digest, 16);
}
}  // namespace

ranked_keys make_ranked_keys(const uint32_t key_chain[4], const uint32_t mac_chain[4],
                             const uint8_t feedback[16]) {
  ranked_keys keys;
  std::memcpy(keys.key_chain, key_chain, sizeof keys.key_chain);
  std::memcpy(keys.mac_chain, mac_chain, sizeof keys.mac_chain);
  std::memcpy(keys.feedback, feedback, sizeof keys.feedback);
  return keys;
}

bool read_ranked_keys(const deploy_values& values, ranked_keys& out) {
  return values.chain("ranked_key_chain", out.key_chain) &&
         values.chain("ranked_mac_chain", out.mac_chain) &&
         values.byte_list("ranked_feedback", out.feedback, sizeof out.feedback);
}

std::vector<uint8_t> ranked_body(uint32_t serial, uint16_t default_port,
                                 const std::vector<ranked_server>& servers) {
  std::vector<uint8_t> body;
  put32(body, serial);
  put32(body, 0);
  put16(body, default_port);
  for (const ranked_server& s : servers) {
    const bool own_port = s.port != default_port;
    body.push_back(static_cast<uint8_t>((s.flags & 0x3F) | (own_port ? 0 : 0x80)));
    const auto* a = reinterpret_cast<const uint8_t*>(&s.address);
    body.insert(body.end(), a, a + 4);
    if (own_port) put16(body, s.port);
  }
  body.push_back(0);
  return body;
}

std::vector<uint8_t> seal_ranked_blob(const ranked_keys& keys, const uint8_t nonce[16],
                                      const std::vector<uint8_t>& plain_body) {
  std::vector<uint8_t> signed_part(nonce, nonce + 16);
  signed_part.insert(signed_part.end(), plain_body.begin(), plain_body.end());
  uint8_t signature[16];
  keyed_md5(keys.mac_chain, signed_part, signature);
  uint8_t key[16];
  keyed_md5(keys.key_chain, std::vector<uint8_t>(nonce, nonce + 16), key);

  std::vector<uint8_t> blob(33 + plain_body.size());
  blob[0] = 1;
  std::memcpy(blob.data() + 1, nonce, 16);
  std::memcpy(blob.data() + 17, signature, 16);
  uint8_t feedback[16];
  std::memcpy(feedback, keys.feedback, 16);
  for (size_t i = 0; i < plain_body.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(plain_body[i] ^ key[i % 16] ^ feedback[i % 16]);
    feedback[i % 16] = c;
    blob[33 + i] = c;
  }
  return blob;
}

}  // namespace service
