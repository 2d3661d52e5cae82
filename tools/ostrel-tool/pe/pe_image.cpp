// The headers' checks and the bounded address mapping every PE reader uses.
#include "pe/pe_image.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "pe/pe_layout.h"

namespace pe {
namespace {

int fail(std::string& error, const char* text) {
  error = text;
  return 1;
}

}  // namespace

int open_image(const uint8_t* file, size_t size, image& im, std::string& error) {
  im = image{};
  im.data = file;
  im.size = size;
  if (size < 2 || file[0] != 'M' || file[1] != 'Z')
    return fail(error, "not a Windows executable (no MZ header)");
  if (size < dos_header_size) return fail(error, "truncated: shorter than an MZ header");
  const size_t nt = bytes::load_u32le(file + dos_new_header);
  if (!fits(im, nt, coff_optional_start))
    return fail(error, "truncated: the PE header lies past the end of the file");
  if (std::memcmp(file + nt, "PE\0\0", 4) != 0)
    return fail(error, "not a PE executable (an MZ program without a PE header)");

  im.optional = nt + coff_optional_start;
  im.optional_size = bytes::load_u16le(file + nt + coff_optional_size);
  im.characteristics = bytes::load_u16le(file + nt + coff_characteristics);
  if (!fits(im, im.optional, 2))
    return fail(error, "truncated: the optional header lies past the end of the file");
  const uint16_t magic = bytes::load_u16le(file + im.optional + opt_magic);
  if (magic == magic_pe32_plus)
    return fail(error, "a 64-bit executable; only 32-bit executables load ostrel.dll");
  const uint16_t machine = bytes::load_u16le(file + nt + coff_machine);
  if (magic != magic_pe32 || machine != machine_i386)
    return fail(error, "not a 32-bit x86 executable");
  if (!fits(im, im.optional, im.optional_size))
    return fail(error, "truncated: the optional header runs past the end of the file");

  im.sections = im.optional + im.optional_size;
  im.section_count = bytes::load_u16le(file + nt + coff_section_count);
  if (im.section_count > max_sections)
    return fail(error, "more than 96 sections, which Windows does not load");
  if (!fits(im, im.sections, im.section_count * sec_header_size))
    return fail(error, "truncated: the section table runs past the end of the file");
  for (size_t i = 0; i < im.section_count; ++i) {
    const uint8_t* s = file + im.sections + i * sec_header_size;
    if (!fits(im, bytes::load_u32le(s + sec_raw_offset), bytes::load_u32le(s + sec_raw_size)))
      return fail(error, "truncated: a section's data runs past the end of the file");
  }
  return 0;
}

bool fits(const image& im, size_t offset, size_t length) {
  return offset <= im.size && length <= im.size - offset;
}

bool map_rva(const image& im, uint32_t rva, size_t length, size_t* offset) {
  uint32_t lowest = UINT32_MAX;
  for (size_t i = 0; i < im.section_count; ++i) {
    const uint8_t* s = im.data + im.sections + i * sec_header_size;
    uint32_t va = bytes::load_u32le(s + sec_virtual_address);
    uint32_t raw = bytes::load_u32le(s + sec_raw_size);
    uint32_t raw_offset = bytes::load_u32le(s + sec_raw_offset);
    lowest = std::min(lowest, va);
    if (rva >= va && rva - va < raw) {
      if (length > raw - (rva - va)) return false;
      *offset = static_cast<size_t>(raw_offset) + (rva - va);
      return fits(im, *offset, length);
    }
  }
  // Below the first section the image is the file's own headers.
  if (rva >= lowest) return false;
  *offset = rva;
  return fits(im, *offset, length);
}

bool read_name(const image& im, size_t offset, std::string* out, size_t limit) {
  out->clear();
  for (size_t i = offset; i < im.size && out->size() < limit; ++i) {
    if (im.data[i] == 0) return true;
    out->push_back(static_cast<char>(im.data[i]));
  }
  return false;
}

void directory(const image& im, uint32_t index, uint32_t* rva, uint32_t* size) {
  *rva = 0;
  *size = 0;
  const uint32_t count = im.optional_size >= opt_directory_count + 4
                             ? bytes::load_u32le(im.data + im.optional + opt_directory_count)
                             : 0;
  const size_t entry = opt_directories + static_cast<size_t>(index) * dir_entry_size;
  if (index >= count || entry + dir_entry_size > im.optional_size) return;
  *rva = bytes::load_u32le(im.data + im.optional + entry + dir_rva);
  *size = bytes::load_u32le(im.data + im.optional + entry + dir_size);
}

}  // namespace pe
