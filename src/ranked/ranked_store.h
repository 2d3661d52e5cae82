// The ranked-server list store of a game client.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ranked {

inline constexpr size_t arena_cells = 16000;
inline constexpr size_t arena_cell_size = 8;
inline constexpr size_t table_size = 64000;  // each of the two tables in the arena

int arena_allocate();  // 0 on success
bool arena_allocated();
int ranked_list_load();  // 0 when a list was loaded

}  // namespace ranked
