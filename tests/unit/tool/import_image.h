// Hand-made 32-bit executables with an import table, for the import patcher's
// tests: the DLLs they import, bound or not, with or without a checksum, and
// the faults a real file may have.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace import_image {

struct options {
  std::vector<std::string> dlls = {"KERNEL32.dll", "WS2_32.dll"};
  bool bound = false;          // a bound import table naming every DLL; descriptors stamped -1
  bool old_style_bound = false;  // descriptors stamped with a DLL's time, no bound table
  bool name_tables = true;     // import name tables beside the address tables
  bool checksum = false;       // a correct checksum in the header
  bool pe32_plus = false;      // a 64-bit image
  bool imports = true;         // false: the import directory is empty
};

std::vector<uint8_t> build(const options& o);

// File offset of the n-th occurrence (from 0) of text followed by a NUL; npos when absent.
size_t find_name(const std::vector<uint8_t>& file, const std::string& text, int n = 0);

// Offsets of the checksum field and of the bound import table in every image built here.
inline constexpr size_t checksum_offset = 0x80 + 24 + 64;
inline constexpr size_t bound_table_offset = 0x1C8;

}  // namespace import_image
