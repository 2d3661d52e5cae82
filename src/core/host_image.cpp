// Host image record: reads the executable in 8000-byte chunks through one stack
// buffer, never past what the file holds, whatever its headers claim.
#include "core/host_image.h"

#include <climits>
#include <cstring>

#include "base/bytes.h"
#include "core/process_state.h"
#include "digest/md5.h"

namespace core {
namespace {

constexpr size_t chunk_size = 8000;
// dos_, nt_, section_: offsets in the DOS header, the new (PE) header and a
// section header.
constexpr size_t dos_header_size = 64;
constexpr size_t dos_new_header_offset = 60;
constexpr size_t nt_header_size = 248;
constexpr size_t nt_section_count = 6;
constexpr size_t nt_optional_size = 20;
constexpr size_t nt_optional_start = 24;
constexpr size_t section_header_size = 40;
constexpr size_t section_raw_size = 16;
constexpr size_t section_raw_offset = 20;

bool seek_to(FILE* file, uint64_t offset) {
  if (offset > static_cast<uint64_t>(LONG_MAX)) return false;
  return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}

bool read_exact(FILE* file, uint8_t* out, size_t n) { return std::fread(out, 1, n, file) == n; }

}  // namespace

int find_text_section(FILE* file, uint32_t* raw_offset, uint32_t* raw_size) {
  uint8_t dos[dos_header_size];
  if (!seek_to(file, 0) || !read_exact(file, dos, sizeof dos)) return 1;
  if (dos[0] != 'M' || dos[1] != 'Z') return 1;

  uint32_t nt_offset = bytes::load_u32le(dos + dos_new_header_offset);
  uint8_t nt[nt_header_size];
  if (!seek_to(file, nt_offset) || !read_exact(file, nt, sizeof nt)) return 1;
  if (std::memcmp(nt, "PE\0\0", 4) != 0) return 1;

  uint16_t sections = bytes::load_u16le(nt + nt_section_count);
  uint16_t optional_size = bytes::load_u16le(nt + nt_optional_size);
  if (sections == 0) return 1;
  if (!seek_to(file, static_cast<uint64_t>(nt_offset) + nt_optional_start + optional_size))
    return 1;

  for (uint16_t i = 0; i < sections; ++i) {
    uint8_t header[section_header_size];
    if (!read_exact(file, header, sizeof header)) return 1;
    if (std::memcmp(header, ".text\0", 6) == 0) {
      *raw_size = bytes::load_u32le(header + section_raw_size);
      *raw_offset = bytes::load_u32le(header + section_raw_offset);
      return 0;
    }
  }
  return 1;
}

void compute_host_image_record(FILE* file, uint8_t* record, char* tag) {
  uint8_t chunk[chunk_size];
  bytes::store_u16le(record + hir_length, host_image_record_size);

  digest::md5_context ctx;
  digest::md5_start(ctx);
  uint32_t counter = 0;
  seek_to(file, 0);
  for (;;) {
    size_t n = std::fread(chunk, 1, sizeof chunk, file);
    if (n == 0) break;
    if (counter == 0) std::memcpy(record + hir_magic, chunk, n < 4 ? n : 4);
    digest::md5_update(ctx, chunk, static_cast<uint32_t>(n));
    counter += static_cast<uint32_t>(n);
  }
  digest::md5_final(ctx);
  bytes::store_u32le(record + hir_file_bytes, counter);
  std::memcpy(record + hir_file_md5, ctx.digest, digest::md5_size);
  digest::md5_hex(ctx, tag);

  digest::md5_start(ctx);
  counter = 0;
  uint32_t offset = 0, size = 0;
  if (find_text_section(file, &offset, &size) == 0 && seek_to(file, offset) &&
      std::ftell(file) == static_cast<long>(offset) && size > 0) {
    while (counter < size) {
      size_t want = size - counter < chunk_size ? size - counter : chunk_size;
      size_t n = std::fread(chunk, 1, want, file);
      if (n == 0) break;
      digest::md5_update(ctx, chunk, static_cast<uint32_t>(n));
      counter += static_cast<uint32_t>(n);
    }
  }
  digest::md5_final(ctx);
  bytes::store_u32le(record + hir_text_bytes, counter);
  std::memcpy(record + hir_text_md5, ctx.digest, digest::md5_size);
}

}  // namespace core
