// Export names and the version resource, each claim of the file followed only
// when the bytes it points at lie inside the file.
#include "pe/pe_library.h"

#include <cstring>

#include "base/bytes.h"
#include "pe/pe_image.h"
#include "pe/pe_layout.h"

namespace pe {
namespace {

constexpr size_t max_exports = 4096;
constexpr char16_t version_key[] = u"VS_VERSION_INFO";

void read_exports(const image& im, library_view& out) {
  uint32_t rva = 0, size = 0;
  directory(im, dir_export, &rva, &size);
  size_t at = 0;
  if (rva == 0 || !map_rva(im, rva, exp_directory_size, &at)) return;
  const uint32_t count = bytes::load_u32le(im.data + at + exp_name_count);
  const uint32_t names = bytes::load_u32le(im.data + at + exp_names);
  for (uint32_t i = 0; i < count && i < max_exports; ++i) {
    size_t slot = 0, name_at = 0;
    std::string name;
    if (!map_rva(im, names + 4 * i, 4, &slot)) return;
    if (!map_rva(im, bytes::load_u32le(im.data + slot), 1, &name_at) ||
        !read_name(im, name_at, &name))
      return;
    out.exports.push_back(name);
  }
}

// The first entry of the resource directory at offset (from the resource
// section's start) whose id is id, or the first of all for id 0; false when
// there is none or it lies outside the file.  The entry table is mapped once,
// whole, so a directory of any size costs one pass over its entries.
bool resource_entry(const image& im, uint32_t base, uint32_t offset, uint32_t id, uint32_t* found) {
  size_t at = 0;
  if (!map_rva(im, base + offset, res_entries, &at)) return false;
  const size_t count = static_cast<size_t>(bytes::load_u16le(im.data + at + res_named_count)) +
                       bytes::load_u16le(im.data + at + res_id_count);
  size_t table = 0;
  if (!map_rva(im, static_cast<uint32_t>(base + offset + res_entries), count * res_entry_size, &table))
    return false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = im.data + table + i * res_entry_size;
    if (id != 0 && bytes::load_u32le(entry + res_entry_name) != id) continue;
    *found = bytes::load_u32le(entry + res_entry_offset);
    return true;
  }
  return false;
}

void read_version(const image& im, library_view& out) {
  uint32_t base = 0, size = 0;
  directory(im, dir_resource, &base, &size);
  if (base == 0) {
    out.version_error = "it has no resources";
    return;
  }
  // Type, then name, then language: two directories, then the data entry.
  uint32_t entry = 0;
  if (!resource_entry(im, base, 0, res_type_version, &entry) || !(entry & res_subdirectory) ||
      !resource_entry(im, base, entry & ~res_subdirectory, 0, &entry) || !(entry & res_subdirectory) ||
      !resource_entry(im, base, entry & ~res_subdirectory, 0, &entry) || (entry & res_subdirectory)) {
    out.version_error = "it has no version resource";
    return;
  }
  size_t data_entry = 0, at = 0;
  if (!map_rva(im, base + entry, resd_entry_size, &data_entry)) {
    out.version_error = "its version resource lies outside the file";
    return;
  }
  const uint32_t data_rva = bytes::load_u32le(im.data + data_entry + resd_rva);
  const uint32_t data_size = bytes::load_u32le(im.data + data_entry + resd_size);
  if (data_size < vsi_fixed + vsi_fixed_size || !map_rva(im, data_rva, data_size, &at)) {
    out.version_error = "its version resource is cut short";
    return;
  }
  const uint8_t* v = im.data + at;
  for (size_t i = 0; i < sizeof version_key / 2; ++i)
    if (bytes::load_u16le(v + vsi_key + 2 * i) != version_key[i]) {
      out.version_error = "its version resource is not a VS_VERSIONINFO block";
      return;
    }
  if (bytes::load_u16le(v + vsi_value_length) < vsi_fixed_size ||
      bytes::load_u16le(v + vsi_length) < vsi_fixed + vsi_fixed_size ||
      bytes::load_u32le(v + vsi_fixed_signature) != vsi_signature) {
    out.version_error = "its version resource holds no fixed file information";
    return;
  }
  const uint32_t high = bytes::load_u32le(v + vsi_file_version_high);
  const uint32_t low = bytes::load_u32le(v + vsi_file_version_low);
  out.version[0] = static_cast<uint16_t>(high >> 16);
  out.version[1] = static_cast<uint16_t>(high);
  out.version[2] = static_cast<uint16_t>(low >> 16);
  out.version[3] = static_cast<uint16_t>(low);
  out.has_version = true;
}

}  // namespace

int read_library(const uint8_t* file, size_t size, library_view& out, std::string& error) {
  out = library_view{};
  image im;
  if (open_image(file, size, im, error) != 0) return 1;
  out.dll = (im.characteristics & characteristic_dll) != 0;
  read_exports(im, out);
  read_version(im, out);
  return 0;
}

}  // namespace pe
