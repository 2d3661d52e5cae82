// The host entry that gethostbyname returns for an answer from the address
// table, built in the calling thread's 1024-byte answer block.
//
// The record has the field types of the Windows Sockets hostent, so on 32-bit
// Windows it is that structure (16 bytes).  The block's layout follows from
// the types: the entry, the IPv4 address right behind it, the address list
// (the address, then null) at the next pointer boundary, the alias list (one
// null, which is also the address list's terminator), then the name.  On
// 32-bit Windows this gives offsets 16, 20, 24 and 28; natively the pointers
// are wider and the offsets move with them.
#pragma once
#include <cstddef>
#include <cstdint>

namespace redirect {

struct host_entry {
  char* name;
  char** aliases;
  int16_t address_type;
  int16_t address_length;
  char** addresses;
};

inline constexpr size_t answer_block_size = 1024;
inline constexpr int16_t address_family_ipv4 = 2;

// answer_layout: offsets of the parts of a host entry in its answer block.
namespace answer_layout {
constexpr size_t align_up(size_t at, size_t alignment) {
  return (at + alignment - 1) / alignment * alignment;
}
inline constexpr size_t address = sizeof(host_entry);
inline constexpr size_t address_list = align_up(address + 4, alignof(char*));
inline constexpr size_t alias_list = address_list + sizeof(char*);
inline constexpr size_t name = alias_list + sizeof(char*);
// Room for the name and its NUL: a longer name is cut to fit.
inline constexpr size_t name_capacity = answer_block_size - name;
}  // namespace answer_layout

static_assert(answer_layout::name < answer_block_size, "answer block too small for its layout");
// Where pointers are 4 bytes, the layout must be the one host games know.
static_assert(sizeof(char*) != 4 ||
                  (answer_layout::address == 16 && answer_layout::address_list == 20 &&
                   answer_layout::alias_list == 24 && answer_layout::name == 28),
              "32-bit answer block layout");

// Builds the entry for name and its one address (network byte order) in
// block, which is answer_block_size bytes aligned for a pointer; returns it.
host_entry* build_table_answer(uint8_t* block, const char* name, uint32_t address);

}  // namespace redirect
