// The tokens that the service functions hand to the server scripts, and the
// reading of the host's port texts.
#pragma once
#include <cstddef>
#include <cstdint>

#include "script/server_identity.h"

namespace script {

// Check token: the first 8 of 16 random bytes as 16 digits, then 32 digits of
// the digest over all 16, the server, the data and the time text.
inline constexpr size_t check_token_size = 49;  // 48 digits and a NUL
void make_check_token(const uint8_t random[16], const server_identity& server, const uint8_t* data,
                      size_t length, int32_t now, char out[check_token_size]);

// Player token: "R4-" and the digest of a captured login (proof, profile id,
// lower-cased player name).
inline constexpr size_t player_token_size = 36;  // "R4-", 32 digits and a NUL
void make_player_token(const uint8_t* proof, size_t proof_length, uint32_t profile_id,
                       const uint8_t* name, size_t name_length, char out[player_token_size]);

// The decimal number at the start of the text's first token (tokens are
// separated by space, tab, CR and LF); 0 without digits.  A number too large
// for 32 bits reads as all ones, never as a small port after wrapping.
uint32_t port_from_text(const char* text);
// Ends the text after its first token; separators in front of it stay.
void cut_after_first_token(char* text);

}  // namespace script
