// Bounded copy and bounded formatting: the one place where fixed text fields are filled.
#include "base/text.h"

#include <cstdio>
#include <cstring>

namespace text {

int copy_bounded_n(char* dst, size_t size, const char* src, size_t count) {
  if (size == 0) return 1;
  size_t n = 0;
  while (n < count && src[n] != '\0' && n + 1 < size) {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = '\0';
  return (n < count && src[n] != '\0') ? 1 : 0;
}

int copy_bounded(char* dst, size_t size, const char* src) {
  return copy_bounded_n(dst, size, src, static_cast<size_t>(-1));
}

int format_bounded_v(char* buffer, size_t size, const char* format, va_list args) {
  if (size == 0) return -1;
  int n = std::vsnprintf(buffer, size, format, args);
  buffer[size - 1] = '\0';
  if (n < 0) {
    buffer[0] = '\0';
    return -1;
  }
  if (static_cast<size_t>(n) >= size) return -1;
  return n;
}

int format_bounded(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = format_bounded_v(buffer, size, format, args);
  va_end(args);
  return n;
}

int split_leading_word(char* text, char** word, char** rest) {
  *word = text;
  char* p = text;
  while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9')) ++p;
  if (*p) {
    *p = '\0';
    *rest = p + 1;
  } else {
    *rest = p;
  }
  return 0;
}

}  // namespace text
