// The snapshot body: nonce, enciphered identity block, check and data digests,
// then the script's data enciphered, all behind the record's header reserve.
#pragma once
#include <cstddef>
#include <cstdint>

#include "snapshot/snapshot_record.h"

namespace snapshot {

// Body offsets (sb_ = snapshot body).
inline constexpr size_t sb_nonce = 0;
inline constexpr size_t sb_identity = 16;
inline constexpr size_t sb_check_digest = 32;  // D2
inline constexpr size_t sb_data_digest = 48;   // D3
inline constexpr size_t sb_data = 64;
inline constexpr size_t snapshot_prelude_size = 64;

// Identity block offsets before enciphering (sid_ = snapshot identity).
inline constexpr size_t sid_time = 0;
inline constexpr size_t sid_game_port = 4;
inline constexpr size_t sid_query_port = 6;
inline constexpr size_t sid_interface_address = 8;
inline constexpr size_t sid_server_address = 12;
inline constexpr size_t identity_block_size = 16;

// Allocates record's buffer (its header reserve, 64, then n bytes), sets the
// body length and writes the body for data signed with the provider ID of the
// script service state block (empty without one).  Addresses in network byte
// order; ports by their low 16 bits.  0, or 1 when the buffer cannot be
// allocated (the record's buffer is then empty).
int build_snapshot(snapshot_record& record, const uint8_t* data, size_t n,
                   uint32_t interface_address, uint32_t server_address, uint32_t game_port,
                   uint32_t query_port);

// The time text that the digests carry: T as the 32-bit target's "%ld" makes
// it (a time past 2038 reads negative there, so it does here too).
inline constexpr size_t time_text_size = 16;
void time_text(uint32_t t, char out[time_text_size]);

}  // namespace snapshot
