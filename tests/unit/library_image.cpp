// Builds the DLLs of library_image.h: headers at 0, one section ".rdata" at
// file offset 0x200 (RVA 0x1000) with the export directory at its start and
// the resource tree at 0x800 (type 16, name 1, language 0x409).
#include "library_image.h"

#include <cstring>

#include "base/bytes.h"
#include "ostrel_exports.h"
#include "ostrel_version.h"

namespace library_image {
namespace {
constexpr size_t pe_at = 0x80;
constexpr size_t optional_at = pe_at + 24;
constexpr size_t sections_at = optional_at + 224;
constexpr size_t raw = 0x200, section_size = 0x1000;
constexpr uint32_t rva = 0x1000;
constexpr size_t resources = 0x800;

uint32_t rva_of(size_t offset) { return static_cast<uint32_t>(rva + offset); }
}  // namespace

std::vector<uint8_t> build(const options& o) {
  std::vector<uint8_t> f(raw + section_size, 0);
  f[0] = 'M';
  f[1] = 'Z';
  bytes::store_u32le(&f[60], pe_at);
  std::memcpy(&f[pe_at], "PE\0\0", 4);
  bytes::store_u16le(&f[pe_at + 4], 0x014C);
  bytes::store_u16le(&f[pe_at + 6], 1);
  bytes::store_u16le(&f[pe_at + 20], 224);
  bytes::store_u16le(&f[pe_at + 22], o.dll ? 0x2102 : 0x0102);
  bytes::store_u16le(&f[optional_at], 0x010B);
  bytes::store_u32le(&f[optional_at + 92], 16);
  uint8_t* s = &f[sections_at];
  std::memcpy(s, ".rdata", 6);
  bytes::store_u32le(s + 8, section_size);
  bytes::store_u32le(s + 12, rva);
  bytes::store_u32le(s + 16, section_size);
  bytes::store_u32le(s + 20, raw);
  uint8_t* sec = &f[raw];

  std::vector<std::string> names = o.exports;
  if (o.all_exports)
    names.assign(std::begin(ostrel_exported_names), std::end(ostrel_exported_names));
  bytes::store_u32le(sec + 24, static_cast<uint32_t>(names.size()));
  bytes::store_u32le(sec + 32, rva_of(0x40));
  size_t at = 0x40 + 4 * names.size();
  for (size_t i = 0; i < names.size(); ++i) {
    bytes::store_u32le(sec + 0x40 + 4 * i, rva_of(at));
    std::memcpy(sec + at, names[i].c_str(), names[i].size() + 1);
    at += names[i].size() + 1;
  }
  bytes::store_u32le(&f[optional_at + 96], rva);
  bytes::store_u32le(&f[optional_at + 100], 40);

  if (o.version) {
    uint8_t* r = sec + resources;
    auto directory = [&](size_t offset, uint32_t id, uint32_t target) {
      bytes::store_u16le(r + offset + 14, 1);
      bytes::store_u32le(r + offset + 16, id);
      bytes::store_u32le(r + offset + 20, target);
    };
    directory(0x00, 16, 0x80000018);
    directory(0x18, 1, 0x80000030);
    directory(0x30, 0x409, 0x48);
    bytes::store_u32le(r + 0x48, rva_of(resources + 0x60));
    bytes::store_u32le(r + 0x4C, 92);
    uint8_t* v = r + 0x60;
    bytes::store_u16le(v, 92);
    bytes::store_u16le(v + 2, 52);
    const char key[] = "VS_VERSION_INFO";
    for (size_t i = 0; i < sizeof key; ++i) bytes::store_u16le(v + 6 + 2 * i, static_cast<uint8_t>(key[i]));
    const uint16_t own[4] = {OSTREL_VERSION_COMMAS};
    const uint16_t* ver = o.own_version ? own : o.file_version;
    bytes::store_u32le(v + 40, 0xFEEF04BD);
    bytes::store_u32le(v + 44, 0x10000);
    bytes::store_u32le(v + 48, static_cast<uint32_t>(ver[0]) << 16 | ver[1]);
    bytes::store_u32le(v + 52, static_cast<uint32_t>(ver[2]) << 16 | ver[3]);
    bytes::store_u32le(&f[optional_at + 96 + 16], rva_of(resources));
    bytes::store_u32le(&f[optional_at + 96 + 20], 0x100);
  }
  return f;
}

}  // namespace library_image
