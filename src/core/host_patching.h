// Patching of one import slot in a loaded module's import table, through which
// a dedicated server's calls of its script runtime reach the library first.
#pragma once
#include <cstddef>
#include <cstdint>

namespace core {

// Offsets in a loaded image: pe_* of the new header ("PE" 0 0 and what follows),
// dos_* of the image's first bytes, import_* of a 20-byte import descriptor.
inline constexpr size_t dos_new_header = 60;  // u32 offset of the new header
inline constexpr size_t dos_readable = 64;
inline constexpr size_t pe_readable = 248;
inline constexpr size_t pe_optional_header = 24;
inline constexpr size_t import_name = 12;           // u32 address of the library name
inline constexpr size_t import_address_table = 16;  // u32 address of the slots
inline constexpr size_t import_descriptor_size = 20;

// In the module whose image starts at `image`, finds the import of
// function_name from dll_name (compared without case) by the slot that holds
// the function's real address, and stores replacement there.  Returns the real
// address, or 0 when any step fails (nothing is changed then).
uintptr_t patch_import(const uint8_t* image, const char* dll_name, const char* function_name,
                       uintptr_t replacement);

}  // namespace core
