// Where things sit in a PE executable, as the import patcher reads it.
// Prefixes: dos_ the MZ header, coff_ the file header (from the "PE\0\0"
// signature on), opt_ the 32-bit optional header, dir_ a data directory entry,
// sec_ a section header, imp_ an import descriptor, bnd_ a bound import
// descriptor (and its forwarder references).
#pragma once
#include <cstddef>
#include <cstdint>

namespace pe {

inline constexpr size_t dos_header_size = 64;
inline constexpr size_t dos_new_header = 60;  // u32: file offset of "PE\0\0"

inline constexpr size_t coff_machine = 4;
inline constexpr size_t coff_section_count = 6;
inline constexpr size_t coff_optional_size = 20;
inline constexpr size_t coff_characteristics = 22;
inline constexpr size_t coff_optional_start = 24;  // the optional header follows
inline constexpr uint16_t machine_i386 = 0x014C;

inline constexpr size_t opt_magic = 0;
inline constexpr size_t opt_checksum = 64;
inline constexpr size_t opt_directory_count = 92;
inline constexpr size_t opt_directories = 96;
inline constexpr uint16_t magic_pe32 = 0x010B;
inline constexpr uint16_t magic_pe32_plus = 0x020B;

inline constexpr size_t dir_rva = 0;
inline constexpr size_t dir_size = 4;
inline constexpr size_t dir_entry_size = 8;
inline constexpr uint32_t dir_export = 0;
inline constexpr uint32_t dir_import = 1;
inline constexpr uint32_t dir_resource = 2;
inline constexpr uint32_t dir_bound_import = 11;

inline constexpr size_t sec_virtual_size = 8;
inline constexpr size_t sec_virtual_address = 12;
inline constexpr size_t sec_raw_size = 16;
inline constexpr size_t sec_raw_offset = 20;
inline constexpr size_t sec_header_size = 40;

inline constexpr size_t imp_name_table = 0;  // the import name table ("original first thunk")
inline constexpr size_t imp_time_stamp = 4;
inline constexpr size_t imp_name = 12;
inline constexpr size_t imp_address_table = 16;
inline constexpr size_t imp_descriptor_size = 20;
// An import descriptor's time stamp: 0 not bound; all ones bound through the
// bound import table; anything else an old-style binding to that DLL's stamp.
inline constexpr uint32_t imp_bound_new_style = 0xFFFFFFFF;

inline constexpr size_t bnd_time_stamp = 0;
inline constexpr size_t bnd_name_offset = 4;  // u16, from the start of the bound table
inline constexpr size_t bnd_forwarder_count = 6;
inline constexpr size_t bnd_descriptor_size = 8;  // a forwarder reference is as long

}  // namespace pe

namespace pe {

// exp_: the export directory; res_: a resource directory and its entries,
// resd_: a resource data entry; vsi_: the VS_VERSIONINFO block and the
// VS_FIXEDFILEINFO that follows its key.
inline constexpr size_t exp_function_count = 20;
inline constexpr size_t exp_name_count = 24;
inline constexpr size_t exp_names = 32;
inline constexpr size_t exp_directory_size = 40;

inline constexpr size_t res_named_count = 12;
inline constexpr size_t res_id_count = 14;
inline constexpr size_t res_entries = 16;
inline constexpr size_t res_entry_name = 0;
inline constexpr size_t res_entry_offset = 4;
inline constexpr size_t res_entry_size = 8;
inline constexpr uint32_t res_subdirectory = 0x80000000;
inline constexpr uint32_t res_type_version = 16;
inline constexpr size_t resd_rva = 0;
inline constexpr size_t resd_size = 4;
inline constexpr size_t resd_entry_size = 16;

inline constexpr size_t vsi_length = 0;
inline constexpr size_t vsi_value_length = 2;
inline constexpr size_t vsi_key = 6;
inline constexpr size_t vsi_fixed = 40;  // the key "VS_VERSION_INFO" and its NUL, 4-aligned
inline constexpr size_t vsi_fixed_signature = vsi_fixed + 0;
inline constexpr size_t vsi_file_version_high = vsi_fixed + 8;
inline constexpr size_t vsi_file_version_low = vsi_fixed + 12;
inline constexpr size_t vsi_fixed_size = 52;
inline constexpr uint32_t vsi_signature = 0xFEEF04BD;

}  // namespace pe
