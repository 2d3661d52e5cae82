// Host image record: reads the executable once in large pieces, never past
// what the file holds, whatever its headers claim.
#include "core/host_image.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "base/bytes.h"
#include "core/process_state.h"
#include "digest/md5.h"

namespace core {
namespace {

// The file is read in large pieces (several megabytes pass on the loading
// thread); on the heap, as the loading thread's stack is the game's.
constexpr size_t piece_size = 64 * 1024;
constexpr size_t fallback_piece_size = 8000;
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

// One pass over the file: the code section's bytes go to the second digest
// as they pass on their way to the first, the two digests interleaved.  The
// section is located first from the headers (a few small reads).
void compute_host_image_record(FILE* file, uint8_t* record, char* tag) {
  bytes::store_u16le(record + hir_length, host_image_record_size);
  uint32_t text_offset = 0, text_size = 0;
  // A section the stream cannot seek to is hashed as none, as always.
  const bool has_text = find_text_section(file, &text_offset, &text_size) == 0 &&
                        text_size > 0 && seek_to(file, text_offset);
  const uint64_t text_end = has_text ? static_cast<uint64_t>(text_offset) + text_size : 0;

  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[piece_size]);
  uint8_t small[fallback_piece_size];
  uint8_t* buffer = piece ? piece.get() : small;
  const size_t capacity = piece ? piece_size : sizeof small;

  digest::md5_context whole, text;
  digest::md5_start(whole);
  digest::md5_start(text);
  uint32_t counter = 0, text_counter = 0;
  uint64_t at = 0;
  seek_to(file, 0);
  for (;;) {
    const size_t n = std::fread(buffer, 1, capacity, file);
    if (n == 0) break;
    if (at == 0) std::memcpy(record + hir_magic, buffer, n < 4 ? n : 4);
    const uint64_t from = at > text_offset ? at : text_offset;
    const uint64_t to = at + n < text_end ? at + n : text_end;
    if (has_text && from < to) {
      const size_t lead = static_cast<size_t>(from - at), shared = static_cast<size_t>(to - from);
      digest::md5_update(whole, buffer, static_cast<uint32_t>(lead));
      digest::md5_update_two(whole, text, buffer + lead, static_cast<uint32_t>(shared));
      digest::md5_update(whole, buffer + lead + shared, static_cast<uint32_t>(n - lead - shared));
      text_counter += static_cast<uint32_t>(shared);
    } else {
      digest::md5_update(whole, buffer, static_cast<uint32_t>(n));
    }
    counter += static_cast<uint32_t>(n);
    at += n;
  }
  digest::md5_final(whole);
  digest::md5_final(text);
  bytes::store_u32le(record + hir_file_bytes, counter);
  std::memcpy(record + hir_file_md5, whole.digest, digest::md5_size);
  digest::md5_hex(whole, tag);
  bytes::store_u32le(record + hir_text_bytes, text_counter);
  std::memcpy(record + hir_text_md5, text.digest, digest::md5_size);
}

}  // namespace core
