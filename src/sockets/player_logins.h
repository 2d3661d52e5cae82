// The player login table: 256 slots of 370 bytes, captured from incoming
// connection packets on a dedicated server.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sockets {

inline constexpr size_t player_login_slots = 256;
inline constexpr size_t player_login_slot_size = 370;

int player_logins_allocate();  // 0 on success
bool player_logins_allocated();

}  // namespace sockets
