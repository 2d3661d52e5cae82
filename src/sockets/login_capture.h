// The login capture of a dedicated server: a player's connection packet on
// the game socket carries the player's name, profile id and login proof,
// which go into the player login table.  Every field read lies inside the
// received bytes, whatever lengths the packet announces.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sockets {

// Connection packet offsets ("pc_", integers little-endian): the slot word,
// the kind word and bytes that tell the three packet forms apart, the
// connect marker, the name's length and the name; the rest follows the name.
inline constexpr size_t pc_slot = 0;
inline constexpr size_t pc_kind = 3;
inline constexpr size_t pc_form_a = 9;
inline constexpr size_t pc_form_b = 10;
inline constexpr size_t pc_form_c = 11;
inline constexpr size_t pc_marker = 17;
inline constexpr size_t pc_name_length = 22;
inline constexpr size_t pc_name = 24;
// Counted from the end of the name ("pn_"): profile word, the length of the
// field before the proof (its first byte also holds the profile's top bit),
// then that field, the proof's length (24) and the proof.
inline constexpr size_t pn_profile = 4;
inline constexpr size_t pn_skip_length = 8;
inline constexpr size_t pn_skip = 10;
inline constexpr uint32_t connect_marker = 0x04000000;
inline constexpr size_t connection_min_size = 61;
inline constexpr size_t login_proof_size = 24;

// Captures the login in a datagram of size bytes from address (network
// order); nothing happens unless every check passes.  0 when the packet
// passed them and went to the store (which still refuses a profile id of 0).
int login_capture(const uint8_t* data, size_t size, uint32_t address);

}  // namespace sockets
