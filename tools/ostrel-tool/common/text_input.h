// Text an operator types or pipes in, read strictly: a value either parses
// whole or is refused.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tool {

// Input given as hex text (digits and white space only) becomes its bytes;
// anything else is taken as bytes already.
std::vector<uint8_t> bytes_or_hex(const std::vector<uint8_t>& input);

// "a.b.c.d" with each part 0..255 in at most three digits; the address in
// network order.
bool parse_ipv4(const std::string& text, uint32_t* network_order);

// Exactly size bytes as 2 * size hex digits, "0x" allowed in front.
bool parse_hex_bytes(const std::string& text, uint8_t* out, size_t size);

}  // namespace tool
