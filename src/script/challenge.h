// The authorization challenge and response: what a dedicated server commits to
// (its identity, mod directory, provider ID and executable) and how it checks
// the statistics service's grant of session flags and a console command.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "script/server_identity.h"

namespace script {

// The current challenge as the server holds it.
struct challenge_state {
  server_identity server;
  uint8_t nonce[16];
  uint32_t time;            // t, seconds since 1970
  const char* time_text;    // t in decimal
  const char* mod_directory;
};

// Challenge string offsets (cs_ = challenge string): "R4-" then hex fields.
inline constexpr size_t cs_nonce = 3;
inline constexpr size_t cs_identity = 35;
inline constexpr size_t cs_identity_digest = 67;
inline constexpr size_t cs_mod_digest = 99;  // only the first 16 digits
inline constexpr size_t cs_provider_digest = 115;
inline constexpr size_t cs_executable_check = 147;
inline constexpr size_t challenge_length = 179;

// Identity block offsets (cid_ = challenge identity), 16 bytes.
inline constexpr size_t cid_time = 0;
inline constexpr size_t cid_game_port = 4;
inline constexpr size_t cid_query_port = 6;
inline constexpr size_t cid_interface_address = 8;
inline constexpr size_t cid_server_address = 12;
inline constexpr size_t identity_block_size = 16;

// MD5 of a whole file read in pieces of 64 KiB (of no bytes when it does not open).
void file_digest(FILE* file, uint8_t out[16]);

// The 179-character challenge string and its NUL.
void compose_challenge(const challenge_state& c, const uint8_t executable_digest[16],
                       char out[challenge_length + 1]);

// Authorization response offsets (ar_): salt, check digest, enciphered grant.
inline constexpr size_t ar_salt = 0;
inline constexpr size_t ar_check = 16;
inline constexpr size_t ar_grant = 32;
inline constexpr size_t response_min_size = 48;
// Grant block offsets (gb_) after deciphering.
inline constexpr size_t gb_flags = 0;
inline constexpr size_t gb_command_length = 4;
inline constexpr size_t gb_command = 5;
inline constexpr size_t command_max = 11;

struct grant {
  uint32_t flags;
  char command[command_max + 1];
};

// 0 and the grant when the response is genuine for the challenge; 1 when it
// is short, its command is longer than 11 or its check digest differs.
int check_response(const challenge_state& c, const uint8_t* response, size_t length, grant* out);

}  // namespace script
