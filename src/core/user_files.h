// Files in the per-user folder: "<roaming application data>\Ostrel\<name>".
#pragma once
#include <cstddef>
#include <cstdio>

#include "base/text.h"

namespace core {

inline constexpr size_t user_path_size = 260;
inline constexpr size_t user_name_size = 100;

// Opens name in the per-user folder (or as given when it contains ':') with a
// standard open mode.  0 and *out on success; 1 and *out null otherwise,
// also when the folder and name together do not fit in 259 characters.
int open_user_file(FILE** out, const char* name, const char* mode);
// The per-user folder itself into path (user_path_size bytes), without
// creating it.  0 on success, also with an empty path when the platform's
// application-data folder is empty (files are then named as given); 1 when
// the platform cannot tell or the path does not fit.
int user_folder_path(char* path);
// The path open_user_file opens for name, into path (user_path_size bytes),
// the per-user folder created on the way.  0 on success, 1 as there.
int user_file_path(char* path, const char* name);
// Replaces name with size bytes of data: written to a temporary file of this
// writer's own beside it and moved over the file in one step, so that the
// last good file stays until a whole new one is there, also when several
// threads or processes write at once.  0 on success.
int replace_user_file(const char* name, const void* data, size_t size);
// Formats the name into 100 bytes first; an empty or over-long name opens nothing.
int open_user_file_fmt(FILE** out, const char* mode, const char* name_format, ...)
    OSTREL_PRINTF(3, 4);

}  // namespace core
