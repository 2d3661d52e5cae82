// Rewriting an executable's import of "WS2_32.dll" to "ostrel.dll" in place.
// The plan names every byte that will change and is made, with every check,
// before anything is written; applying it cannot fail.  The two names have the
// same length, so nothing moves.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pe {

inline constexpr char winsock_name[] = "ws2_32.dll";
inline constexpr char library_name[] = "ostrel.dll";
inline constexpr size_t import_name_size = 10;  // both names, without their NUL
// Stamp given to a renamed bound import entry.  No linker stamps a DLL with it,
// so the loader always finds that binding stale and binds ostrel.dll afresh.
inline constexpr uint32_t stale_bound_stamp = 0xFFFFFFFF;

enum class import_state { patchable, already_patched };

struct import_plan {
  import_state state = import_state::patchable;
  std::string imported_as;              // the WS2_32 name as the file spells it
  std::vector<size_t> import_names;     // file offsets of import descriptor names
  std::vector<size_t> bound_names;      // file offsets of bound import entry names
  std::vector<size_t> bound_stamps;     // their time stamps
  std::vector<size_t> old_style_stamps; // descriptor stamps of an old-style binding
  bool checksum_set = false;
  size_t checksum_offset = 0;
};

// 0 and the plan when the file is a 32-bit PE that imports WS2_32.dll by a
// name that can be rewritten (state patchable) or that imports ostrel.dll
// (state already_patched); 1 and one line in error otherwise.
int plan_import_patch(const uint8_t* file, size_t size, import_plan& out, std::string& error);

// Makes the plan's changes (state patchable) and recomputes the checksum
// when the file had one.
void apply_import_patch(uint8_t* file, size_t size, const import_plan& plan);

// The PE checksum of the file, with the 4 bytes at checksum_offset taken as 0.
uint32_t pe_checksum(const uint8_t* file, size_t size, size_t checksum_offset);

}  // namespace pe
