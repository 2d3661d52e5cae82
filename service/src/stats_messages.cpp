// Statistics formats on the service's side.  The chain cipher runs here in its
// deciphering direction (plain = cipher ^ key ^ previous cipher byte) and its
// enciphering direction for replies, each spelled out on its own.
#include "service/stats_messages.h"

#include <cstring>

#include "digest/md5.h"

namespace service {
namespace {

uint32_t le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
std::vector<uint8_t> bytes_of32(uint32_t x) {
  std::vector<uint8_t> v;
  put32(v, x);
  return v;
}

std::vector<uint8_t> decipher(const uint8_t* in, size_t n, const uint8_t* key, uint8_t start) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = in[i] ^ key[i % 16] ^ (i ? in[i - 1] : start);
  return out;
}

void encipher(uint8_t* data, size_t n, const uint8_t* key, uint8_t start) {
  for (size_t i = 0; i < n; ++i) data[i] = data[i] ^ key[i % 16] ^ (i ? data[i - 1] : start);
}

struct md5 {
  digest::md5_context ctx;
  md5() { digest::md5_start(ctx); }
  md5& add(const void* p, size_t n) {
    digest::md5_update(ctx, p, static_cast<uint32_t>(n));
    return *this;
  }
  md5& add(const std::vector<uint8_t>& v) { return add(v.data(), v.size()); }
  md5& add(const std::string& s) { return add(s.data(), s.size()); }
  std::vector<uint8_t> done() {
    digest::md5_final(ctx);
    return std::vector<uint8_t>(ctx.digest, ctx.digest + 16);
  }
};

// T as the library's 32-bit "%ld" writes it.
std::string time_text(uint32_t t) { return std::to_string(static_cast<int32_t>(t)); }

bool parse_byte(const std::string& text, uint8_t& out) {
  try {
    size_t used = 0;
    unsigned long v = std::stoul(text, &used, 0);
    if (used != text.size() || v > 255) return false;
    out = static_cast<uint8_t>(v);
    return true;
  } catch (...) {
    return false;
  }
}
bool parse_word(const std::string& text, uint32_t& out) {
  try {
    size_t used = 0;
    unsigned long long v = std::stoull(text, &used, 16);
    if (used != text.size() || v > 0xffffffffULL) return false;
    out = static_cast<uint32_t>(v);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

bool stats_keys_from(const deploy_values& values, stats_keys& out, std::string& error) {
  const struct {
    const char* key;
    uint8_t* out;
  } bytes[] = {{"identity_start_byte", &out.identity_start},
               {"session_request_start_byte", &out.request_start},
               {"session_reply_start_byte", &out.reply_start}};
  for (const auto& b : bytes)
    if (!parse_byte(values.get(b.key), *b.out)) {
      error = std::string(b.key) + " is not a byte";
      return false;
    }
  if (!parse_word(values.get("tsdata_mask_a"), out.mask_a) ||
      !parse_word(values.get("tsdata_mask_b"), out.mask_b)) {
    error = "tsdata_mask_a and tsdata_mask_b must be 32-bit hex words";
    return false;
  }
  return true;
}

bool decode_snapshot_body(const stats_keys& keys, const uint8_t* body, size_t size,
                          const std::vector<std::string>& providers, snapshot_seen& out,
                          std::string& why) {
  if (size < 64) {
    why = "body shorter than 64 bytes";
    return false;
  }
  const uint8_t* nonce = body;
  const std::vector<uint8_t> identity = decipher(body + 16, 16, nonce, keys.identity_start);
  const uint32_t t = le32(&identity[0]);
  const uint8_t* gp = &identity[4];
  const uint8_t* qp = &identity[6];
  const uint8_t* ia = &identity[8];
  const uint8_t* sa = &identity[12];
  const std::string t_text = time_text(t);
  const std::vector<uint8_t> t_bytes = bytes_of32(t);

  for (const std::string& p : providers) {
    const std::vector<uint8_t> d2 =
        md5().add(nonce, 16).add(qp, 2).add(gp, 2).add(ia, 4).add(sa, 4).add(t_bytes).add(p).done();
    if (std::memcmp(d2.data(), body + 32, 16) != 0) continue;
    const std::vector<uint8_t> d1 =
        md5().add(nonce, 16).add(gp, 2).add(qp, 2).add(sa, 4).add(ia, 4).add(p).add(t_text).done();
    std::vector<uint8_t> data = decipher(body + 64, size - 64, d1.data(), nonce[3]);
    const std::vector<uint8_t> d3 = md5().add(nonce, 16).add(p).add(data).add(t_text).done();
    if (std::memcmp(d3.data(), body + 48, 16) != 0) {
      why = "data digest does not match";
      return false;
    }
    out.provider_id = p;
    out.time = t;
    out.game_port = le16(gp);
    out.query_port = le16(qp);
    std::memcpy(&out.interface_address, ia, 4);
    std::memcpy(&out.server_address, sa, 4);
    out.data = std::move(data);
    return true;
  }
  why = "no known provider ID matches the check digest";
  return false;
}

bool decode_tsdata(const stats_keys& keys, const std::string& text, snapshot_seen& out,
                   std::string& why) {
  if (text.size() != 64 || text.find_first_not_of("0123456789abcdef") != std::string::npos) {
    why = "tsdata is not 64 lower-case hex digits";
    return false;
  }
  uint32_t n[4];
  for (int i = 0; i < 4; ++i) n[i] = static_cast<uint32_t>(std::stoul(text.substr(8 * i, 8), nullptr, 16));
  const uint32_t midpoint = n[0] ^ keys.mask_a, service_time = n[1] ^ keys.mask_b,
                 start_time = n[2] ^ keys.mask_a, t2 = n[3] ^ keys.mask_b;
  std::vector<uint8_t> plain;
  for (uint32_t v : {midpoint, service_time, start_time, t2}) put32(plain, v);
  const std::vector<uint8_t> d = md5().add(plain).add(out.provider_id).done();
  char hex[33];
  digest::hex_encode(d.data(), 16, hex);
  if (text.compare(32, 32, hex) != 0) {
    why = "tsdata digest does not match";
    return false;
  }
  out.exchange_midpoint = midpoint;
  out.service_time = service_time;
  out.start_time = start_time;
  out.header_time = t2;
  return true;
}

bool decode_session_request(const stats_keys& keys, const uint8_t* data, size_t size,
                            const std::vector<std::string>& providers, session_request_seen& out) {
  if (size != 56 || std::memcmp(data, "HRSQ", 4) != 0) return false;
  std::vector<uint8_t> plain(data, data + 40);
  const std::vector<uint8_t> middle = decipher(data + 4, 36, data + 40, keys.request_start);
  std::copy(middle.begin(), middle.end(), plain.begin() + 4);
  for (const std::string& p : providers) {
    const std::vector<uint8_t> d = md5().add(plain).add(p).done();
    if (std::memcmp(d.data(), data + 40, 16) != 0) continue;
    out.provider_id = p;
    out.time = le32(&plain[4]);
    std::memcpy(&out.interface_address, &plain[8], 4);
    std::memcpy(&out.server_address, &plain[12], 4);
    out.game_port = le16(&plain[16]);
    out.query_port = le16(&plain[18]);
    out.session_flags = le32(&plain[20]);
    out.start_time = le32(&plain[24]);
    out.process_id = le32(&plain[28]);
    std::memcpy(out.r, &plain[32], 8);
    return true;
  }
  return false;
}

std::vector<uint8_t> build_session_reply(const stats_keys& keys, const session_request_seen& request,
                                         const session_reply_options& options) {
  std::vector<uint8_t> reply = {'H', 'R', 'S', 'R'};
  put32(reply, options.service_time);
  reply.insert(reply.end(), reinterpret_cast<const uint8_t*>(&request.interface_address),
               reinterpret_cast<const uint8_t*>(&request.interface_address) + 4);
  reply.insert(reply.end(), reinterpret_cast<const uint8_t*>(&request.server_address),
               reinterpret_cast<const uint8_t*>(&request.server_address) + 4);
  put16(reply, request.game_port);
  put16(reply, static_cast<uint16_t>(request.query_port + options.query_port_delta));
  put32(reply, options.session_flags);
  reply.resize(40, 0);
  md5 d;
  if (!options.digest_without_r) d.add(request.r, 8);
  const std::vector<uint8_t> digest = d.add(reply).add(request.provider_id).done();
  reply.insert(reply.end(), digest.begin(), digest.end());
  encipher(reply.data() + 4, 36, reply.data() + 40, keys.reply_start);
  return reply;
}

}  // namespace service
