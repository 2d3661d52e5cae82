// Ranked list file: loaded once at start-up, replaced after each verified
// refresh through a temporary file, so a failed write keeps the last good list.
#include "ranked/ranked_file.h"

#include <cstring>
#include <memory>
#include <new>

#include "base/bytes.h"
#include "core/user_files.h"
#include "ranked/ranked_store.h"

namespace ranked {
namespace {
constexpr size_t read_piece = 1000;
}

int load_ranked_stream(FILE* file) {
  uint8_t header[rlf_blob];
  if (std::fread(header, 1, 4, file) != 4 || std::fread(header + 4, 1, 4, file) != 4) return 1;
  if (std::memcmp(header + rlf_magic, ranked_file_magic, sizeof ranked_file_magic) != 0) return 1;
  const uint32_t length = bytes::load_u32le(header + rlf_length);
  if (length < 1 || length > ranked_blob_max_size) return 1;

  std::unique_ptr<uint8_t[]> blob(new (std::nothrow) uint8_t[length]);
  if (!blob) return 1;
  size_t got = 0;
  while (got < length) {
    const size_t want = length - got < read_piece ? length - got : read_piece;
    const size_t n = std::fread(blob.get() + got, 1, want, file);
    got += n;
    if (n < want) break;
  }
  if (got == 0) return 1;
  return install_ranked_blob(blob.get(), got);
}

int load_ranked_list() {
  FILE* file = nullptr;
  if (core::open_user_file(&file, ranked_file_name, "rb") != 0 || !file) return 1;
  const int rc = load_ranked_stream(file);
  std::fclose(file);
  return rc;
}

int write_ranked_file(const uint8_t* blob, size_t m) {
  if (m > ranked_blob_max_size) return 1;
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[rlf_blob + m]);
  if (!data) return 1;
  std::memcpy(data.get() + rlf_magic, ranked_file_magic, sizeof ranked_file_magic);
  bytes::store_u32le(data.get() + rlf_length, static_cast<uint32_t>(m));
  std::memcpy(data.get() + rlf_blob, blob, m);
  return core::replace_user_file(ranked_file_name, data.get(), rlf_blob + m);
}

}  // namespace ranked
