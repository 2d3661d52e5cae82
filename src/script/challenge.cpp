// Challenge string and response check.  Every digest's fields and their order
// are shared with the statistics service, which recomputes them.
#include "script/challenge.h"

#include <cstring>
#include <memory>
#include <new>

#include "base/bytes.h"
#include "deploy_values.h"
#include "snapshot/chain_cipher.h"

namespace script {

namespace {
constexpr size_t file_piece_size = 64 * 1024;

void start(digest::md5_context& ctx) { digest::md5_start(ctx); }

void feed_server_order(digest::md5_context& ctx, const server_identity& s) {
  feed_port(ctx, s.game_port);
  feed_port(ctx, s.query_port);
  feed_address(ctx, s.interface_address);
  feed_address(ctx, s.server_address);
}

void key_digest(const challenge_state& c, const uint8_t* salt, uint8_t out[16]) {
  digest::md5_context ctx;
  start(ctx);
  digest::md5_update(ctx, salt, 16);
  feed_server_order(ctx, c.server);
  digest::md5_update(ctx, c.nonce, 16);
  digest::md5_update_text(ctx, c.mod_directory);
  digest::md5_update_text(ctx, c.server.provider_id);
  digest::md5_update_text(ctx, c.time_text);
  digest::md5_final(ctx);
  std::memcpy(out, ctx.digest, 16);
}

void check_digest(const challenge_state& c, const uint8_t* salt, const char* command,
                  const uint8_t* grant_block, uint8_t out[16]) {
  digest::md5_context ctx;
  start(ctx);
  digest::md5_update(ctx, salt, 16);
  digest::md5_update(ctx, c.nonce, 16);
  digest::md5_update_text(ctx, c.server.provider_id);
  digest::md5_update_text(ctx, command);
  digest::md5_update(ctx, grant_block + gb_flags, 4);
  digest::md5_update_text(ctx, c.mod_directory);
  feed_server_order(ctx, c.server);
  digest::md5_update_text(ctx, c.time_text);
  digest::md5_final(ctx);
  std::memcpy(out, ctx.digest, 16);
}
}  // namespace

void file_digest(FILE* file, uint8_t out[16]) {
  digest::md5_context ctx;
  start(ctx);
  if (file) {
    // Large pieces: each read is a call into the C runtime and the system, and
    // the executable is several megabytes; on the heap, as a script thread's
    // stack is not ours to spend.
    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[file_piece_size]);
    uint8_t small[4000];
    uint8_t* buffer = piece ? piece.get() : small;
    const size_t capacity = piece ? file_piece_size : sizeof small;
    size_t n;
    while ((n = std::fread(buffer, 1, capacity, file)) > 0)
      digest::md5_update(ctx, buffer, static_cast<uint32_t>(n));
  }
  digest::md5_final(ctx);
  std::memcpy(out, ctx.digest, 16);
}

void compose_challenge(const challenge_state& c, const uint8_t executable_digest[16],
                       char out[challenge_length + 1]) {
  uint8_t identity[identity_block_size];
  bytes::store_u32le(identity + cid_time, c.time);
  bytes::store_u16le(identity + cid_game_port, static_cast<uint16_t>(c.server.game_port));
  bytes::store_u16le(identity + cid_query_port, static_cast<uint16_t>(c.server.query_port));
  bytes::store_u32le(identity + cid_interface_address, c.server.interface_address);
  bytes::store_u32le(identity + cid_server_address, c.server.server_address);
  snapshot::chain_encipher(identity, sizeof identity, c.nonce, deploy::session_reply_start_byte);

  digest::md5_context identity_digest, mod_digest, provider_digest, check;
  start(identity_digest);
  digest::md5_update(identity_digest, c.nonce, 16);
  feed_server_order(identity_digest, c.server);
  uint8_t t[4];
  bytes::store_u32le(t, c.time);
  digest::md5_update(identity_digest, t, 4);
  digest::md5_final(identity_digest);

  start(mod_digest);
  digest::md5_update(mod_digest, c.nonce, 16);
  feed_server_order(mod_digest, c.server);
  digest::md5_update_text(mod_digest, c.mod_directory);
  digest::md5_update_text(mod_digest, c.time_text);
  digest::md5_final(mod_digest);

  start(provider_digest);
  digest::md5_update(provider_digest, c.nonce, 16);
  feed_port(provider_digest, c.server.query_port);
  feed_port(provider_digest, c.server.game_port);
  feed_address(provider_digest, c.server.server_address);
  feed_address(provider_digest, c.server.interface_address);
  digest::md5_update_text(provider_digest, c.server.provider_id);
  digest::md5_update_text(provider_digest, c.time_text);
  digest::md5_final(provider_digest);

  start(check);
  digest::md5_update(check, c.nonce, 16);
  digest::md5_update(check, executable_digest, 16);
  digest::md5_update_text(check, c.time_text);
  feed_server_order(check, c.server);
  digest::md5_final(check);

  out[0] = 'R';
  out[1] = '4';
  out[2] = '-';
  digest::hex_encode(c.nonce, 16, out + cs_nonce);
  digest::hex_encode(identity, sizeof identity, out + cs_identity);
  digest::md5_hex(identity_digest, out + cs_identity_digest);
  char mod_hex[digest::md5_hex_size];
  digest::md5_hex(mod_digest, mod_hex);
  std::memcpy(out + cs_mod_digest, mod_hex, 16);
  digest::md5_hex(provider_digest, out + cs_provider_digest);
  digest::md5_hex(check, out + cs_executable_check);
  out[challenge_length] = '\0';
}

int check_response(const challenge_state& c, const uint8_t* response, size_t length, grant* out) {
  if (length < response_min_size) return 1;
  const uint8_t* salt = response + ar_salt;
  uint8_t key[16];
  key_digest(c, salt, key);
  uint8_t block[16];
  for (size_t i = 0; i < 16; ++i) block[i] = response[ar_grant + i] ^ key[i];
  const size_t command_length = block[gb_command_length];
  if (command_length > command_max) return 1;
  grant g{};
  // A NUL among the command's bytes ends it there.
  for (size_t i = 0; i < command_length && block[gb_command + i]; ++i)
    g.command[i] = static_cast<char>(block[gb_command + i]);
  uint8_t expected[16];
  check_digest(c, salt, g.command, block, expected);
  if (std::memcmp(expected, response + ar_check, 16) != 0) return 1;
  g.flags = bytes::load_u32le(block + gb_flags);
  *out = g;
  return 0;
}

}  // namespace script
