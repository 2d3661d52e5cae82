// Per-user files: the path "<application data>\Ostrel\<name>" is built in a
// 260-byte buffer, and a folder or name that would not fit is refused whole
// rather than cut, since a cut path names some other file.
#include "core/user_files.h"

#include <cstdarg>
#include <cstring>

#include "base/bytes.h"
#include "core/random.h"
#include "platform/platform.h"

namespace core {
namespace {

constexpr char folder_name[] = "Ostrel";

bool is_separator(char c) { return c == '\\' || c == '/'; }

int open_as_given(FILE** out, const char* name, const char* mode) {
  *out = platform::open_file(name, mode);
  return *out ? 0 : 1;
}

// Appends text at path[*length]; false, and path unchanged, when it would
// not leave room for the terminating zero.
bool append(char* path, size_t* length, const char* text) {
  size_t n = std::strlen(text);
  if (n >= user_path_size - *length) return false;
  std::memcpy(path + *length, text, n + 1);
  *length += n;
  return true;
}

}  // namespace

int user_folder_path(char* path) {
  path[0] = '\0';
  if (platform::appdata_folder(path, user_path_size) != 0) {
    path[0] = '\0';
    return 1;
  }
  path[user_path_size - 1] = '\0';
  if (path[0] == '\0') return 0;
  size_t length = std::strlen(path);
  if (!is_separator(path[length - 1]) && !append(path, &length, "\\")) return 1;
  return append(path, &length, folder_name) ? 0 : 1;
}

int user_file_path(char* path, const char* name) {
  path[0] = '\0';
  if (name[0] == '\0') return 1;  // would name the folder itself
  size_t length = 0;
  if (std::strchr(name, ':')) return append(path, &length, name) ? 0 : 1;

  if (user_folder_path(path) != 0) return 1;
  length = std::strlen(path);
  if (length == 0) return append(path, &length, name) ? 0 : 1;
  platform::create_folder(path);
  if (!is_separator(name[0]) && !append(path, &length, "\\")) return 1;
  return append(path, &length, name) ? 0 : 1;
}

int open_user_file(FILE** out, const char* name, const char* mode) {
  *out = nullptr;
  char path[user_path_size];
  if (user_file_path(path, name) != 0) return 1;
  return open_as_given(out, path, mode);
}

int replace_user_file(const char* name, const void* data, size_t size) {
  char path[user_path_size];
  char temporary[user_path_size];
  if (user_file_path(path, name) != 0) return 1;
  // A name of this writer's own beside the file: another process or thread
  // writing at the same time has another one.
  uint8_t salt[4];
  random_bytes(salt, sizeof salt);
  if (text::format_bounded(temporary, sizeof temporary, "%s.%lu.%08lx.tmp", path,
                           static_cast<unsigned long>(platform::process_id()),
                           static_cast<unsigned long>(bytes::load_u32le(salt))) <= 0)
    return 1;

  FILE* file = platform::open_file(temporary, "wb");
  if (!file) return 1;
  const bool written = std::fwrite(data, 1, size, file) == size;
  const bool closed = std::fclose(file) == 0;
  if (written && closed && platform::replace_file(temporary, path) == 0) return 0;
  platform::remove_file(temporary);
  return 1;
}

int open_user_file_fmt(FILE** out, const char* mode, const char* name_format, ...) {
  *out = nullptr;
  char name[user_name_size];
  va_list args;
  va_start(args, name_format);
  int n = text::format_bounded_v(name, sizeof name, name_format, args);
  va_end(args);
  if (n <= 0) return 1;
  return open_user_file(out, name, mode);
}

}  // namespace core
