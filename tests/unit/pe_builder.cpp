// Builds the hand-made executables of pe_builder.h.
#include "pe_builder.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "base/bytes.h"

namespace pe_builder {
namespace {
constexpr size_t dos_new_header_offset = 60;
constexpr size_t nt_section_count = 6;
constexpr size_t nt_optional_size = 20;
constexpr size_t nt_optional_start = 24;
constexpr size_t section_header_size = 40;
constexpr size_t section_virtual_size = 8;
constexpr size_t section_raw_size = 16;
constexpr size_t section_raw_offset = 20;
}  // namespace

uint32_t section_table_offset(const layout& l) {
  return l.new_header_offset + static_cast<uint32_t>(nt_optional_start) + l.optional_size;
}

std::vector<uint8_t> build(const layout& l) {
  const size_t table = section_table_offset(l);
  const size_t headers_end = table + section_header_size * l.sections.size();
  std::vector<uint8_t> file(std::max(l.file_size, headers_end));
  std::mt19937 gen(static_cast<uint32_t>(l.file_size));
  for (auto& b : file) b = static_cast<uint8_t>(gen());

  file[0] = l.mz ? 'M' : 'Z';
  file[1] = l.mz ? 'Z' : 'M';
  bytes::store_u32le(&file[dos_new_header_offset], l.new_header_offset);
  uint8_t* nt = &file[l.new_header_offset];
  std::memcpy(nt, l.pe_signature ? "PE\0\0" : "PX\0\0", 4);
  uint16_t count = l.section_count < 0 ? static_cast<uint16_t>(l.sections.size())
                                       : static_cast<uint16_t>(l.section_count);
  bytes::store_u16le(nt + nt_section_count, count);
  bytes::store_u16le(nt + nt_optional_size, l.optional_size);
  for (size_t i = 0; i < l.sections.size(); ++i) {
    uint8_t* h = &file[table + section_header_size * i];
    std::memset(h, 0, 8);
    std::memcpy(h, l.sections[i].name.data(), std::min<size_t>(8, l.sections[i].name.size()));
    bytes::store_u32le(h + section_virtual_size, l.sections[i].raw_size);
    bytes::store_u32le(h + section_raw_size, l.sections[i].raw_size);
    bytes::store_u32le(h + section_raw_offset, l.sections[i].raw_offset);
  }
  file.resize(l.file_size);
  return file;
}

}  // namespace pe_builder
