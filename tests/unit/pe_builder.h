// Hand-made executable files for the host image tests: a DOS header, a "PE"
// header and a section table laid out as the test asks, everything else noise.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace pe_builder {

struct section {
  std::string name;  // up to 8 bytes, zero-padded
  uint32_t raw_size;
  uint32_t raw_offset;
};

struct layout {
  bool mz = true;                  // "MZ" at the start, else "ZM"
  bool pe_signature = true;        // "PE\0\0" at the new header, else "PX\0\0"
  uint32_t new_header_offset = 0x80;
  uint16_t optional_size = 224;    // a 32-bit image's optional header
  int32_t section_count = -1;      // the count the header claims; -1: sections.size()
  std::vector<section> sections;
  size_t file_size = 0x3000;       // the file is cut or padded to this length
};

// Offset of the section table for a layout.
uint32_t section_table_offset(const layout& l);
std::vector<uint8_t> build(const layout& l);

}  // namespace pe_builder
