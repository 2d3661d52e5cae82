// Builds the executables of import_image.h: headers at 0, ".text" at file
// offset 0x200 (RVA 0x1000), ".idata" at 0x400 (RVA 0x2000), and the bound
// import table in the headers' slack, where linkers put it.
#include "import_image.h"

#include <cstring>

#include "base/bytes.h"
#include "pe/pe_imports.h"

namespace import_image {
namespace {
constexpr size_t pe_at = 0x80;
constexpr size_t optional_at = pe_at + 24;
constexpr size_t sections_at = optional_at + 224;
constexpr size_t text_raw = 0x200, idata_raw = 0x400, section_size = 0x200;
constexpr uint32_t text_rva = 0x1000, idata_rva = 0x2000;
constexpr uint32_t stamp = 0x5A5A1234;

void section(std::vector<uint8_t>& f, size_t index, const char* name, uint32_t rva, size_t raw) {
  uint8_t* s = &f[sections_at + 40 * index];
  std::memcpy(s, name, std::strlen(name));
  bytes::store_u32le(s + 8, section_size);
  bytes::store_u32le(s + 12, rva);
  bytes::store_u32le(s + 16, section_size);
  bytes::store_u32le(s + 20, static_cast<uint32_t>(raw));
}
}  // namespace

std::vector<uint8_t> build(const options& o) {
  std::vector<uint8_t> f(idata_raw + section_size, 0);
  f[0] = 'M';
  f[1] = 'Z';
  bytes::store_u32le(&f[60], pe_at);
  std::memcpy(&f[pe_at], "PE\0\0", 4);
  bytes::store_u16le(&f[pe_at + 4], o.pe32_plus ? 0x8664 : 0x014C);
  bytes::store_u16le(&f[pe_at + 6], 2);
  bytes::store_u16le(&f[pe_at + 20], 224);
  bytes::store_u16le(&f[optional_at], o.pe32_plus ? 0x020B : 0x010B);
  bytes::store_u32le(&f[optional_at + 60], 0x200);  // size of headers
  bytes::store_u32le(&f[optional_at + 92], 16);
  section(f, 0, ".text", text_rva, text_raw);
  section(f, 1, ".idata", idata_rva, idata_raw);
  for (size_t i = 0; i < section_size; ++i) f[text_raw + i] = static_cast<uint8_t>(0xC3 ^ i);

  // .idata: descriptors, then per DLL a name table, an address table (one
  // function each), the function's hint/name and the DLL's name.
  const size_t n = o.dlls.size();
  size_t at = idata_raw + (n + 1) * 20;
  for (size_t i = 0; i < n; ++i) {
    auto rva = [](size_t offset) { return static_cast<uint32_t>(idata_rva + offset - idata_raw); };
    const size_t names = at, addresses = at + 8, hint = at + 16;
    const size_t dll = hint + 8;
    std::memcpy(&f[hint + 2], "fn", 2);
    std::memcpy(&f[dll], o.dlls[i].data(), o.dlls[i].size());
    if (o.name_tables) bytes::store_u32le(&f[names], rva(hint));
    bytes::store_u32le(&f[addresses], o.bound || o.old_style_bound ? 0x77001234 : rva(hint));
    uint8_t* d = &f[idata_raw + 20 * i];
    if (o.name_tables) bytes::store_u32le(d + 0, rva(names));
    bytes::store_u32le(d + 4, o.bound ? 0xFFFFFFFF : o.old_style_bound ? stamp : 0);
    bytes::store_u32le(d + 12, rva(dll));
    bytes::store_u32le(d + 16, rva(addresses));
    at = dll + o.dlls[i].size() + 1;
    at = (at + 3) & ~size_t{3};
  }
  if (o.imports) {
    bytes::store_u32le(&f[optional_at + 96 + 8], idata_rva);
    bytes::store_u32le(&f[optional_at + 96 + 12], static_cast<uint32_t>((n + 1) * 20));
  }

  if (o.bound) {
    size_t name_at = (n + 1) * 8;
    for (size_t i = 0; i < n; ++i) {
      uint8_t* b = &f[bound_table_offset + 8 * i];
      bytes::store_u32le(b, stamp + static_cast<uint32_t>(i));
      bytes::store_u16le(b + 4, static_cast<uint16_t>(name_at));
      std::memcpy(&f[bound_table_offset + name_at], o.dlls[i].data(), o.dlls[i].size());
      name_at += o.dlls[i].size() + 1;
    }
    bytes::store_u32le(&f[optional_at + 96 + 8 * 11], bound_table_offset);
    bytes::store_u32le(&f[optional_at + 96 + 8 * 11 + 4], static_cast<uint32_t>(name_at));
  }
  if (o.checksum)
    bytes::store_u32le(&f[checksum_offset], pe::pe_checksum(f.data(), f.size(), checksum_offset));
  return f;
}

size_t find_name(const std::vector<uint8_t>& file, const std::string& text, int n) {
  for (size_t i = 0; i + text.size() < file.size(); ++i)
    if (std::memcmp(&file[i], text.data(), text.size()) == 0 && file[i + text.size()] == 0 &&
        n-- == 0)
      return i;
  return std::string::npos;
}

}  // namespace import_image
