// The player login table of a dedicated server: 256 player slots of four login
// records each, filled from incoming connection packets by the server receive
// filter and read by the script module (glsGetAuthInfo).
//
// One lock of the table's own guards every store and read, and is held only
// for the copy of one record; a reader therefore never sees a record that a
// capture is rewriting.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sockets {

inline constexpr size_t player_login_slots = 256;
inline constexpr size_t logins_per_slot = 4;
inline constexpr size_t login_text_field = 32;
inline constexpr size_t login_text_max = 30;  // bytes of a field in use

// Allocates the zero-filled table and its lock once; 0 on success.
int player_logins_allocate();
bool player_logins_allocated();
// Empties every slot (as at start-up).  For tests.
void player_logins_clear();

// Stores one login: nothing when the table is missing, profile_id is 0, a
// length is 0 or slot is above 255.  The same (address, profile id) in the
// slot is overwritten in place; otherwise the oldest of the four records.
// Lengths above 30 are cut to 30.
void store_login(uint32_t slot, uint32_t address, uint32_t profile_id, const uint8_t* name,
                 size_t name_length, const uint8_t* proof, size_t proof_length);

// The login record read of the script module.  Searches slot (0 to 255) for
// profile_id and address (network byte order); on a match copies the name and
// the login proof, each cut to the caller's capacity given in *name_length and
// *proof_length, sets both to the bytes copied and returns 0.  No terminating
// NUL is added.  Returns 1 (nothing touched) when the table is missing, the
// slot is above 255 or no record matches.
int login_record_read(uint32_t profile_id, uint32_t address, uint32_t slot, uint8_t* name,
                      uint8_t* proof, size_t* name_length, size_t* proof_length);

}  // namespace sockets
