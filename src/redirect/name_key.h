// Name keys: the 32-bit value by which the library knows a host name whatever
// its letter case.
#pragma once
#include <cstdint>

namespace redirect {

// Fixed keys of the retired service's hosts.
inline constexpr uint32_t stats_web_host_key = 0x7FE59444;
inline constexpr uint32_t stats_host_key = 0x05BF381D;
inline constexpr uint32_t push_host_key = 0x17D99CDA;

// MD5 of the ASCII-lower-cased name (without its NUL), read as four big-endian
// words folded by exclusive or.  "abc" gives 0x52A45F27.
uint32_t name_key(const char* name);

}  // namespace redirect
