// Challenge check and authorization response of the reference statistics service.
#include "service/authorization.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace service {

namespace {

// MD5 over fields appended one after another.
struct digest_input {
  std::vector<uint8_t> bytes;
  void raw(const uint8_t* p, size_t n) { bytes.insert(bytes.end(), p, p + n); }
  void text(const std::string& s) { raw(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
  void port(uint16_t v) {
    bytes.push_back(static_cast<uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  std::vector<uint8_t> md5() const {
    std::vector<uint8_t> out(16);
    EVP_Digest(bytes.data(), bytes.size(), out.data(), nullptr, EVP_md5(), nullptr);
    return out;
  }
  std::string md5_hex() const {
    std::string hex;
    char two[3];
    for (uint8_t b : md5()) {
      std::snprintf(two, sizeof two, "%02x", b);
      hex += two;
    }
    return hex;
  }
};

bool from_hex(const std::string& text, size_t at, size_t count, uint8_t* out) {
  for (size_t i = 0; i < count; ++i) {
    unsigned v = 0;
    for (int k = 0; k < 2; ++k) {
      char c = text[at + 2 * i + k];
      unsigned d;
      if (c >= '0' && c <= '9')
        d = static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        d = static_cast<unsigned>(c - 'a' + 10);
      else
        return false;
      v = v * 16 + d;
    }
    out[i] = static_cast<uint8_t>(v);
  }
  return true;
}

void server_fields(digest_input& d, const challenge_facts& f) {
  d.port(f.game_port);
  d.port(f.query_port);
  d.raw(f.interface_address, 4);
  d.raw(f.server_address, 4);
}

}  // namespace

bool read_challenge(const std::string& challenge, uint8_t start_byte, const uint8_t executable_md5[16],
                    const std::vector<std::string>& provider_ids,
                    const std::vector<std::string>& mod_directories, challenge_facts* facts,
                    challenge_digests* digests, std::string* why) {
  if (challenge.size() != 179 || challenge.compare(0, 3, "R4-") != 0) {
    if (why)
      *why = "not a challenge string (179 characters starting with \"R4-\"; this one has " +
             std::to_string(challenge.size()) + ")";
    return false;
  }
  challenge_facts f;
  uint8_t cipher[16];
  for (size_t i = 3; i < 179; ++i) {
    const char c = challenge[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      if (why) *why = "not hexadecimal (character " + std::to_string(i) + " is no lower-case hex digit)";
      return false;
    }
  }
  from_hex(challenge, 3, 16, f.nonce);
  from_hex(challenge, 35, 16, cipher);
  // Deciphering the identity block: plain[i] = cipher[i] ^ nonce[i] ^ cipher[i - 1].
  uint8_t plain[16];
  for (int i = 0; i < 16; ++i)
    plain[i] = cipher[i] ^ f.nonce[i] ^ (i == 0 ? start_byte : cipher[i - 1]);
  f.time = static_cast<uint32_t>(plain[0] | plain[1] << 8 | plain[2] << 16) |
           static_cast<uint32_t>(plain[3]) << 24;
  f.game_port = static_cast<uint16_t>(plain[4] | plain[5] << 8);
  f.query_port = static_cast<uint16_t>(plain[6] | plain[7] << 8);
  std::memcpy(f.interface_address, plain + 8, 4);
  std::memcpy(f.server_address, plain + 12, 4);
  f.time_text = std::to_string(f.time);

  challenge_digests d;
  digest_input identity;
  identity.raw(f.nonce, 16);
  server_fields(identity, f);
  identity.u32(f.time);
  d.identity = identity.md5_hex() == challenge.substr(67, 32);

  for (const std::string& mod : mod_directories) {
    digest_input m;
    m.raw(f.nonce, 16);
    server_fields(m, f);
    m.text(mod);
    m.text(f.time_text);
    if (m.md5_hex().compare(0, 16, challenge, 99, 16) == 0) {
      f.mod_directory = mod;
      d.mod = true;
      break;
    }
  }

  for (const std::string& id : provider_ids) {
    digest_input p;
    p.raw(f.nonce, 16);
    p.port(f.query_port);
    p.port(f.game_port);
    p.raw(f.server_address, 4);
    p.raw(f.interface_address, 4);
    p.text(id);
    p.text(f.time_text);
    if (p.md5_hex() == challenge.substr(115, 32)) {
      f.provider_id = id;
      d.provider = true;
      break;
    }
  }

  digest_input check;
  check.raw(f.nonce, 16);
  check.raw(executable_md5, 16);
  check.text(f.time_text);
  server_fields(check, f);
  d.executable = check.md5_hex() == challenge.substr(147, 32);

  if (facts) *facts = f;
  if (digests) *digests = d;
  return true;
}

const char* challenge_failure(const challenge_digests& d) {
  if (!d.identity) return "identity digest differs";
  if (!d.mod) return "mod digest matches no known mod directory";
  if (!d.provider) return "provider digest matches no known provider ID";
  if (!d.executable) return "executable check digest differs";
  return nullptr;
}

bool check_challenge(const std::string& challenge, uint8_t start_byte, const uint8_t executable_md5[16],
                     const std::vector<std::string>& provider_ids,
                     const std::vector<std::string>& mod_directories, challenge_facts* facts,
                     std::string* why) {
  challenge_facts f;
  challenge_digests d;
  if (!read_challenge(challenge, start_byte, executable_md5, provider_ids, mod_directories, &f, &d, why))
    return false;
  if (const char* failure = challenge_failure(d)) {
    if (why) *why = failure;
    return false;
  }
  if (facts) *facts = f;
  return true;
}

std::vector<uint8_t> build_authorization(const challenge_facts& f, const uint8_t salt[16],
                                         uint32_t flags, const std::string& command,
                                         int length_byte) {
  const std::string used = command.substr(0, 11);
  uint8_t block[16] = {};
  for (int i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(flags >> (8 * i));
  block[4] = static_cast<uint8_t>(length_byte >= 0 ? length_byte : static_cast<int>(used.size()));
  std::memcpy(block + 5, used.data(), used.size());

  digest_input key;
  key.raw(salt, 16);
  server_fields(key, f);
  key.raw(f.nonce, 16);
  key.text(f.mod_directory);
  key.text(f.provider_id);
  key.text(f.time_text);
  const std::vector<uint8_t> k = key.md5();

  digest_input check;
  check.raw(salt, 16);
  check.raw(f.nonce, 16);
  check.text(f.provider_id);
  check.text(used);
  check.raw(block, 4);
  check.text(f.mod_directory);
  server_fields(check, f);
  check.text(f.time_text);
  const std::vector<uint8_t> v = check.md5();

  // Sized once and filled in place: growing a 16-byte vector by insert makes
  // GCC 12 at -O3 see a copy past its first buffer.
  std::vector<uint8_t> response(16 + v.size() + 16);
  std::copy(salt, salt + 16, response.begin());
  std::copy(v.begin(), v.end(), response.begin() + 16);
  for (size_t i = 0; i < 16; ++i) response[16 + v.size() + i] = block[i] ^ k[i];
  return response;
}

}  // namespace service
