// Look-up cache files.
//
// The writer never opens the cache file itself for writing: it writes a
// temporary file beside it and renames that over it, so a full disk or two
// writers at once leave the last good file, never an empty or mixed one.
//
// The writer stores answers of up to 2000 bytes, which makes files of up to
// 2016 bytes; the loader reads up to that size (not just 2000 bytes), so every
// answer the library accepted and stored can be loaded again.  A file longer
// than any the writer makes is refused.
#include "redirect/lookup_cache.h"

#include <cstdio>
#include <cstring>

#include "base/bytes.h"
#include "base/text.h"
#include "core/process_state.h"
#include "core/user_files.h"
#include "platform/platform.h"
#include "redirect/lookup_answer.h"

namespace redirect {
namespace {
constexpr char cache_name_format[] = "network_%d_%s";
}  // namespace

int install_cache_bytes(const uint8_t* data, size_t size, uint32_t max_age) {
  if (size <= lcf_body || size > lookup_cache_max_size) return 1;
  if (std::memcmp(data + lcf_magic, cache_magic, sizeof cache_magic) != 0) return 1;
  if (static_cast<size_t>(bytes::load_u16le(data + lcf_length)) + lcf_length_base != size) return 1;
  const size_t body_size = size - lcf_body;
  if (body_size < lookup_body_min_size) return 1;

  const uint8_t* id = data + lcf_id;
  const uint32_t time = bytes::load_u32le(data + lcf_time);
  const uint32_t tag = bytes::load_u32le(data + lcf_tag);
  if (verify_and_install(data + lcf_body, body_size, id, time, tag, false) != 0) return 1;
  if (static_cast<uint64_t>(time) + max_age < platform::now_seconds()) return 1;
  return verify_and_install(data + lcf_body, body_size, id, time, tag, true);
}

int load_cache(int number, uint32_t max_age) {
  FILE* file = nullptr;
  if (core::open_user_file_fmt(&file, "rb", cache_name_format, number,
                               core::process.host_image_tag) != 0 ||
      !file)
    return 1;
  // One byte more than the largest file, so that a longer file is seen as such.
  uint8_t data[lookup_cache_max_size + 1];
  const size_t size = std::fread(data, 1, sizeof data, file);
  std::fclose(file);
  return install_cache_bytes(data, size, max_age);
}

size_t format_cache(const lookup_request& request, const uint8_t* datagram, size_t length,
                    uint8_t* out) {
  if (length < lookup_answer_min_size || length > lookup_answer_max_size) return 0;
  const size_t size = lcf_body + length - lan_body;
  std::memcpy(out + lcf_magic, cache_magic, sizeof cache_magic);
  bytes::store_u16le(out + lcf_length, static_cast<uint16_t>(size - lcf_length_base));
  std::memcpy(out + lcf_id, request.id, lookup_id_size);
  bytes::store_u32le(out + lcf_time, request.time);
  bytes::store_u32le(out + lcf_tag, request.tag);
  std::memcpy(out + lcf_body, datagram + lan_body, length - lan_body);
  return size;
}

int write_cache(int number, const lookup_request& request, const uint8_t* datagram,
                size_t length) {
  uint8_t data[lookup_cache_max_size];
  const size_t size = format_cache(request, datagram, length, data);
  if (size == 0) return 1;

  char name[core::user_name_size];
  if (text::format_bounded(name, sizeof name, cache_name_format, number,
                           core::process.host_image_tag) <= 0)
    return 1;
  return core::replace_user_file(name, data, size);
}

}  // namespace redirect
