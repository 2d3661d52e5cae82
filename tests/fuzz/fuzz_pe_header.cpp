// Arbitrary bytes as the host executable: the host image record must read only
// what the file holds, whatever its headers claim, and hash exactly the part of
// the ".text" section that lies inside the file.
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "core/host_image.h"
#include "core/process_state.h"
#include "digest/md5.h"

namespace {
void check(bool ok) {
  if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // fmemopen takes a writable buffer; the extra byte keeps it non-null when empty.
  std::vector<uint8_t> copy(data, data + size);
  copy.push_back(0);
  FILE* file = fmemopen(copy.data(), size, "rb");
  if (!file) return 0;

  uint8_t record[core::host_image_record_size] = {};
  char tag[digest::md5_hex_size];
  core::compute_host_image_record(file, record, tag);

  uint32_t offset = 0, raw_size = 0;
  const bool found = core::find_text_section(file, &offset, &raw_size) == 0;
  std::fclose(file);

  check(bytes::load_u16le(record + core::hir_length) == core::host_image_record_size);
  check(bytes::load_u32le(record + core::hir_file_bytes) == size);
  uint8_t whole[digest::md5_size];
  digest::md5_of(copy.data(), static_cast<uint32_t>(size), whole);
  check(std::memcmp(record + core::hir_file_md5, whole, sizeof whole) == 0);
  char hex[digest::md5_hex_size];
  digest::hex_encode(whole, sizeof whole, hex);
  check(std::strcmp(tag, hex) == 0);

  size_t expected = 0;
  if (found && raw_size > 0 && offset < size) expected = std::min<size_t>(raw_size, size - offset);
  check(bytes::load_u32le(record + core::hir_text_bytes) == expected);
  uint8_t text[digest::md5_size];
  digest::md5_of(copy.data() + (expected ? offset : 0), static_cast<uint32_t>(expected), text);
  check(std::memcmp(record + core::hir_text_md5, text, sizeof text) == 0);
  return 0;
}
