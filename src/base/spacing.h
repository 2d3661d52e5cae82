// "At most every N milliseconds", on a millisecond clock that never jumps
// (platform::monotonic_ms): 32-bit stamps, so that the word is lock-free on
// 32-bit Windows, with 0 meaning "never".  Differences are taken modulo 2^32,
// which stays right for spacings well under the 49 days a stamp wraps in.
#pragma once
#include <atomic>
#include <cstdint>

namespace spacing {

inline uint32_t stamp(uint64_t now_ms) {
  const uint32_t s = static_cast<uint32_t>(now_ms);
  return s != 0 ? s : 1u;
}

inline bool due(uint32_t last, uint64_t now_ms, uint32_t spacing_ms) {
  return last == 0 || static_cast<uint32_t>(static_cast<uint32_t>(now_ms) - last) >= spacing_ms;
}

// Claims the slot when it is due: of threads that ask together, one wins.
inline bool claim(std::atomic<uint32_t>& last, uint64_t now_ms, uint32_t spacing_ms) {
  uint32_t seen = last.load();
  return due(seen, now_ms, spacing_ms) && last.compare_exchange_strong(seen, stamp(now_ms));
}

}  // namespace spacing
