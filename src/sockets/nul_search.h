// Finding NUL bytes in a received answer, the one job the plain answer scan
// spends its time on.  Every routine stays inside [at, size) whatever the
// bytes hold.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sockets {

// The offset of the n-th NUL (n >= 1) at or after at, or size when there are
// fewer.  Sixteen bytes at a time where the processor has SSE2 (every x86-64
// one; a 32-bit build asks the processor once, at load), else a machine word
// at a time.
size_t nth_nul(const uint8_t* data, size_t at, size_t size, int n);

// The two ways, for tests that hold each to a byte walk.
size_t nth_nul_words(const uint8_t* data, size_t at, size_t size, int n);
bool nul_vectors_available();
// Only when nul_vectors_available(); otherwise it is nth_nul_words.
size_t nth_nul_vectors(const uint8_t* data, size_t at, size_t size, int n);

}  // namespace sockets
