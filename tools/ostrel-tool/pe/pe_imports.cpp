// Finds and checks every byte the import patch changes.  Whatever the headers
// claim, nothing is read past the file's end: a claim that leads outside the
// file refuses the file as truncated.
#include "pe/pe_imports.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "common/console_text.h"
#include "pe/pe_image.h"
#include "pe/pe_layout.h"

namespace pe {
namespace {

constexpr size_t max_descriptors = 4096;

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  return s;
}

// "ws2_32" whatever the path before it, its extension or its letter case.
bool names_winsock(const std::string& name) {
  std::string base = lower(name);
  size_t slash = base.find_last_of("\\/");
  if (slash != std::string::npos) base.erase(0, slash + 1);
  size_t dot = base.find('.');
  if (dot != std::string::npos) base.erase(dot);
  return base == "ws2_32";
}

void add_once(std::vector<size_t>& list, size_t offset) {
  if (std::find(list.begin(), list.end(), offset) == list.end()) list.push_back(offset);
}

int fail(std::string& error, const char* text) {
  error = text;
  return 1;
}

int unrewritable(std::string& error, const std::string& name) {
  error = "imports WS2_32 by the name \"" + console::printable(name) +
          "\", which cannot be rewritten to \"ostrel.dll\" in place";
  return 1;
}

// Walks the import descriptors; fills names, stamps and the state.
int walk_imports(const image& im, uint32_t table_rva, import_plan& out, std::string& error,
                 bool* bound_new_style) {
  bool ostrel_seen = false;
  for (size_t i = 0; i < max_descriptors; ++i) {
    size_t at = 0;
    if (!map_rva(im, static_cast<uint32_t>(table_rva + i * imp_descriptor_size),
                 imp_descriptor_size, &at))
      return fail(error, "truncated: the import table runs past the end of the file");
    const uint8_t* d = im.data + at;
    uint32_t name_rva = bytes::load_u32le(d + imp_name);
    if (name_rva == 0) break;  // the loader stops at the first descriptor without a name
    size_t name_at = 0;
    std::string name;
    if (!map_rva(im, name_rva, 1, &name_at) || !read_name(im, name_at, &name))
      return fail(error, "truncated: an imported DLL's name lies past the end of the file");
    std::string lowered = lower(name);
    if (lowered == library_name) {
      ostrel_seen = true;
      continue;
    }
    if (!names_winsock(name)) continue;
    if (lowered != winsock_name) return unrewritable(error, name);

    uint32_t stamp = bytes::load_u32le(d + imp_time_stamp);
    if (stamp != 0) {
      // A bound import table holds addresses inside WS2_32; only a name table
      // lets the loader look them up again in ostrel.dll.
      if (bytes::load_u32le(d + imp_name_table) == 0)
        return fail(error,
                    "its WS2_32.dll import is bound and has no name table, so it cannot be "
                    "bound to ostrel.dll again");
      if (stamp == imp_bound_new_style)
        *bound_new_style = true;
      else
        add_once(out.old_style_stamps, at + imp_time_stamp);
    }
    if (out.imported_as.empty()) out.imported_as = name;
    add_once(out.import_names, name_at);
  }
  if (ostrel_seen) {
    out = import_plan{};
    out.state = import_state::already_patched;
    return 0;
  }
  if (out.import_names.empty()) return fail(error, "does not import WS2_32.dll");
  return 0;
}

// Renames the WS2_32 entries of the bound import table.
int walk_bound_imports(const image& im, uint32_t table_rva, import_plan& out,
                       std::string& error) {
  size_t base = 0;
  if (!map_rva(im, table_rva, bnd_descriptor_size, &base))
    return fail(error, "truncated: the bound import table lies past the end of the file");
  size_t at = base;
  for (size_t i = 0; i < max_descriptors; ++i) {
    if (!fits(im, at, bnd_descriptor_size))
      return fail(error, "truncated: the bound import table runs past the end of the file");
    uint16_t name_offset = bytes::load_u16le(im.data + at + bnd_name_offset);
    if (name_offset == 0) return 0;
    std::string name;
    if (!read_name(im, base + name_offset, &name))
      return fail(error, "truncated: a bound DLL's name lies past the end of the file");
    if (names_winsock(name)) {
      if (lower(name) != winsock_name) return unrewritable(error, name);
      add_once(out.bound_names, base + name_offset);
      add_once(out.bound_stamps, at + bnd_time_stamp);
    }
    uint16_t forwarders = bytes::load_u16le(im.data + at + bnd_forwarder_count);
    at += bnd_descriptor_size * (1 + static_cast<size_t>(forwarders));
  }
  return fail(error, "the bound import table has no end");
}

}  // namespace

int plan_import_patch(const uint8_t* file, size_t size, import_plan& out, std::string& error) {
  out = import_plan{};
  image im;
  if (open_image(file, size, im, error) != 0) return 1;
  auto directory_rva = [&](uint32_t index) -> uint32_t {
    uint32_t rva = 0, length = 0;
    directory(im, index, &rva, &length);
    return rva;
  };

  const uint32_t imports = directory_rva(dir_import);
  if (imports == 0) return fail(error, "does not import WS2_32.dll (it imports nothing)");
  bool bound_new_style = false;
  if (walk_imports(im, imports, out, error, &bound_new_style) != 0) return 1;
  if (out.state == import_state::already_patched) return 0;

  const uint32_t bound = directory_rva(dir_bound_import);
  if (bound != 0 && walk_bound_imports(im, bound, out, error) != 0) return 1;

  if (im.optional_size >= opt_checksum + 4 &&
      bytes::load_u32le(file + im.optional + opt_checksum) != 0) {
    out.checksum_set = true;
    out.checksum_offset = im.optional + opt_checksum;
  }
  return 0;
}

void apply_import_patch(uint8_t* file, size_t size, const import_plan& plan) {
  if (plan.state != import_state::patchable) return;
  for (size_t at : plan.import_names) std::memcpy(file + at, library_name, import_name_size);
  for (size_t at : plan.bound_names) std::memcpy(file + at, library_name, import_name_size);
  for (size_t at : plan.bound_stamps) bytes::store_u32le(file + at, stale_bound_stamp);
  for (size_t at : plan.old_style_stamps) bytes::store_u32le(file + at, 0);
  if (plan.checksum_set)
    bytes::store_u32le(file + plan.checksum_offset, pe_checksum(file, size, plan.checksum_offset));
}

uint32_t pe_checksum(const uint8_t* file, size_t size, size_t checksum_offset) {
  uint64_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    uint32_t low = file[i];
    uint32_t high = i + 1 < size ? file[i + 1] : 0;
    if (i >= checksum_offset && i < checksum_offset + 4) low = 0;
    if (i + 1 >= checksum_offset && i + 1 < checksum_offset + 4) high = 0;
    sum += low | (high << 8);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + size);
}

}  // namespace pe
