// Check and player tokens, and port texts.
#include "script/tokens.h"

#include "base/bytes.h"
#include "base/text.h"

namespace script {

void feed_port(digest::md5_context& ctx, uint32_t port) {
  uint8_t b[2];
  bytes::store_u16le(b, static_cast<uint16_t>(port));
  digest::md5_update(ctx, b, 2);
}

void feed_address(digest::md5_context& ctx, uint32_t address) {
  // Held as it sits in memory in network order; its stored bytes enter.
  uint8_t b[4];
  bytes::store_u32le(b, address);
  digest::md5_update(ctx, b, 4);
}

void make_check_token(const uint8_t random[16], const server_identity& server, const uint8_t* data,
                      size_t length, int32_t now, char out[check_token_size]) {
  char time_text[16];
  text::format_bounded(time_text, sizeof time_text, "%ld", static_cast<long>(now));
  digest::md5_context ctx;
  digest::md5_start(ctx);
  digest::md5_update(ctx, random, 16);
  feed_port(ctx, server.query_port);
  feed_port(ctx, server.game_port);
  feed_address(ctx, server.server_address);
  feed_address(ctx, server.interface_address);
  digest::md5_update_text(ctx, server.provider_id);
  digest::md5_update(ctx, data, static_cast<uint32_t>(length));
  digest::md5_update_text(ctx, time_text);
  digest::md5_final(ctx);
  // The token carries only half of the random bytes that entered the digest:
  // the statistics service's contract, kept exactly as it stands.
  digest::hex_encode(random, 8, out);
  digest::md5_hex(ctx, out + 16);
}

void make_player_token(const uint8_t* proof, size_t proof_length, uint32_t profile_id,
                       const uint8_t* name, size_t name_length, char out[player_token_size]) {
  digest::md5_context ctx;
  digest::md5_start(ctx);
  digest::md5_update(ctx, proof, static_cast<uint32_t>(proof_length));
  uint8_t id[4];
  bytes::store_u32le(id, profile_id);
  digest::md5_update(ctx, id, 4);
  for (size_t i = 0; i < name_length; ++i) {
    const uint8_t c = static_cast<uint8_t>(text::ascii_lower(static_cast<char>(name[i])));
    digest::md5_update(ctx, &c, 1);
  }
  digest::md5_final(ctx);
  out[0] = 'R';
  out[1] = '4';
  out[2] = '-';
  digest::md5_hex(ctx, out + 3);
}

namespace {
bool separator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

uint32_t port_from_text(const char* text) {
  while (separator(*text)) ++text;
  uint64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + static_cast<uint64_t>(*text - '0');
    if (value > 0xFFFFFFFFu) return 0xFFFFFFFFu;
  }
  return static_cast<uint32_t>(value);
}

void cut_after_first_token(char* text) {
  while (separator(*text)) ++text;
  while (*text && !separator(*text)) ++text;
  *text = '\0';
}

}  // namespace script
