// Bounded text helpers: every fixed-size text field of the library is filled
// through these, so a field is always terminated and never overrun.
#pragma once
#include <cstdarg>
#include <cstddef>

#if defined(__MINGW32__) && !defined(__clang__)
#define OSTREL_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define OSTREL_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

namespace text {

// Copies src into dst (capacity size, size > 0), cutting it to size - 1
// characters.  Returns 0 when all of src fitted, 1 when it was cut.
int copy_bounded(char* dst, size_t size, const char* src);

// Copies at most count characters of src (stopping at a NUL) into dst, cut to
// fit and terminated.  Returns 0 when the copied run fitted, 1 when it was cut.
int copy_bounded_n(char* dst, size_t size, const char* src, size_t count);

// printf-style formatting cut to fit; buffer[size - 1] is always zero.  Returns
// the number of characters written, or a negative number when the text was cut.
int format_bounded(char* buffer, size_t size, const char* format, ...) OSTREL_PRINTF(3, 4);
int format_bounded_v(char* buffer, size_t size, const char* format, va_list args)
    OSTREL_PRINTF(3, 0);

// ASCII lower-casing (A-Z only); other bytes, including those above 0x7F, stay.
inline char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Splits text in place at the end of its leading run of ASCII letters and
// digits: *word is text, the first other character becomes a NUL and *rest
// points just after it (or at the terminating NUL).  Always 0.
int split_leading_word(char* text, char** word, char** rest);

}  // namespace text
