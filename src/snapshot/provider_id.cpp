// Provider ID file.  The first path that opens wins, even when it is empty: an
// operator's newer file must not be overridden by an older one further down.
#include "snapshot/provider_id.h"

#include <cstdio>

#include "platform/platform.h"

namespace snapshot {
namespace {
constexpr size_t read_piece = 100;

bool skipped(char c) { return c == '\t' || c == '\r' || c == '\n' || c == ' ' || c == '\0'; }
}  // namespace

char* load_provider_id(char* out) {
  out[0] = '\0';
  FILE* file = nullptr;
  for (const char* path : provider_id_paths)
    if ((file = platform::open_file(path, "rb")) != nullptr) break;
  if (!file) return out;

  size_t length = 0;
  char piece[read_piece];
  while (length < provider_id_size - 1) {
    const size_t got = std::fread(piece, 1, sizeof piece, file);
    if (got == 0) break;
    for (size_t i = 0; i < got && length < provider_id_size - 1; ++i)
      if (!skipped(piece[i])) out[length++] = piece[i];
  }
  out[length] = '\0';
  std::fclose(file);
  return out;
}

}  // namespace snapshot
