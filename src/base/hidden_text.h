// Texts that must not stand as constant text in the built library (the host
// module's method names, the library's module name, the retired service's
// host names): kept masked and composed at run time into a local buffer, which
// the caller clears right after use.
#pragma once
#include <cstddef>
#include <cstdint>

namespace text {

constexpr uint8_t hidden_mask(size_t i) { return static_cast<uint8_t>(0xA7 ^ (i * 29 + 11)); }

template <size_t N>
struct hidden_text {
  uint8_t bytes[N];  // the text and its NUL, each byte masked

  consteval explicit hidden_text(const char (&plain)[N]) : bytes{} {
    for (size_t i = 0; i < N; ++i) bytes[i] = static_cast<uint8_t>(plain[i]) ^ hidden_mask(i);
  }
  static constexpr size_t size = N;

  // Writes the text and its NUL into out (at least N bytes).  The masked
  // bytes are read through a volatile view so that the compiler cannot fold
  // the plain text back into the code.
  void reveal(char* out) const {
    const volatile uint8_t* masked = bytes;
    for (size_t i = 0; i < N; ++i) out[i] = static_cast<char>(masked[i] ^ hidden_mask(i));
  }
};

// Clears a buffer in a way the compiler cannot drop as a dead store.
inline void wipe(void* buffer, size_t size) {
  volatile uint8_t* p = static_cast<volatile uint8_t*>(buffer);
  for (size_t i = 0; i < size; ++i) p[i] = 0;
}

}  // namespace text
