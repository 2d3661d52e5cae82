// Builds the DLLs of library_image.h: headers at 0, the section ".rdata" at
// the first file offset past the section table on a 0x200 boundary (RVA
// 0x1000) with the export directory at its start and the resource tree at
// 0x800 (type 16, name 1, language 0x409).
#include "library_image.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "ostrel_exports.h"
#include "ostrel_version.h"

namespace library_image {
namespace {
constexpr size_t pe_at = 0x80;
constexpr size_t optional_at = pe_at + 24;
constexpr size_t sections_at = optional_at + 224;
constexpr uint32_t rva = 0x1000;
constexpr size_t resources = 0x800;

size_t round_up(size_t value, size_t unit) { return (value + unit - 1) / unit * unit; }
}  // namespace

std::vector<uint8_t> build(const options& o) {
  const size_t count = o.sections ? o.sections : 1;
  const size_t raw = round_up(sections_at + 40 * count, 0x200);
  const size_t named = std::min<size_t>(o.other_resource_types, 0xFFFF);
  const size_t numbered = o.other_resource_types - named + 1;  // the version's last
  const size_t tree = 16 + 8 * (named + numbered);                // the types' directory
  const size_t tree_size = tree + 0x48 + 92;
  const size_t section_size = std::max<size_t>(0x1000, round_up(resources + tree_size, 0x200));
  auto rva_of = [](size_t offset) { return static_cast<uint32_t>(rva + offset); };

  std::vector<uint8_t> f(raw + section_size, 0);
  f[0] = 'M';
  f[1] = 'Z';
  bytes::store_u32le(&f[60], pe_at);
  std::memcpy(&f[pe_at], "PE\0\0", 4);
  bytes::store_u16le(&f[pe_at + 4], 0x014C);
  bytes::store_u16le(&f[pe_at + 6], static_cast<uint16_t>(count));
  bytes::store_u16le(&f[pe_at + 20], 224);
  bytes::store_u16le(&f[pe_at + 22], o.dll ? 0x2102 : 0x0102);
  bytes::store_u16le(&f[optional_at], 0x010B);
  bytes::store_u32le(&f[optional_at + 92], 16);
  // Empty sections far above the real one: a reader finds the real one last.
  for (size_t i = 0; i + 1 < count; ++i) {
    uint8_t* s = &f[sections_at + 40 * i];
    std::memcpy(s, ".pad", 4);
    bytes::store_u32le(s + 12, static_cast<uint32_t>(0x10000000 + 0x1000 * i));
  }
  uint8_t* s = &f[sections_at + 40 * (count - 1)];
  std::memcpy(s, ".rdata", 6);
  bytes::store_u32le(s + 8, static_cast<uint32_t>(section_size));
  bytes::store_u32le(s + 12, rva);
  bytes::store_u32le(s + 16, static_cast<uint32_t>(section_size));
  bytes::store_u32le(s + 20, static_cast<uint32_t>(raw));
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
    // The types' directory: the other types first (named ones, then numbered
    // ones from 17 up), the version's (16) last; then one name, one language.
    bytes::store_u16le(r + 12, static_cast<uint16_t>(named));
    bytes::store_u16le(r + 14, static_cast<uint16_t>(numbered));
    for (size_t i = 0; i + 1 < named + numbered; ++i) {
      const uint32_t id = i < named ? 0x80000000u | static_cast<uint32_t>(tree)
                                    : static_cast<uint32_t>(17 + i - named);
      bytes::store_u32le(r + 16 + 8 * i, id);
      bytes::store_u32le(r + 20 + 8 * i, static_cast<uint32_t>(0x80000000u | tree));
    }
    bytes::store_u32le(r + tree - 8, 16);
    bytes::store_u32le(r + tree - 4, static_cast<uint32_t>(0x80000000u | tree));
    auto directory = [&](size_t offset, uint32_t id, uint32_t target) {
      bytes::store_u16le(r + offset + 14, 1);
      bytes::store_u32le(r + offset + 16, id);
      bytes::store_u32le(r + offset + 20, target);
    };
    directory(tree, 1, static_cast<uint32_t>(0x80000000u | (tree + 0x18)));
    directory(tree + 0x18, 0x409, static_cast<uint32_t>(tree + 0x30));
    bytes::store_u32le(r + tree + 0x30, rva_of(resources + tree + 0x48));
    bytes::store_u32le(r + tree + 0x34, 92);
    uint8_t* v = r + tree + 0x48;
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
    bytes::store_u32le(&f[optional_at + 96 + 20], static_cast<uint32_t>(tree_size));
  }
  return f;
}

}  // namespace library_image
