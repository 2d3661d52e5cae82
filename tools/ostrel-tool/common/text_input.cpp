// Text an operator types or pipes in: hex digits, dotted IPv4 addresses.
#include "common/text_input.h"

#include "base/bytes.h"

namespace tool {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::vector<uint8_t> bytes_or_hex(const std::vector<uint8_t>& input) {
  std::vector<uint8_t> out;
  int high = -1;
  for (uint8_t c : input) {
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    int v = hex_value(static_cast<char>(c));
    if (v < 0) return input;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  return high < 0 && !out.empty() ? out : input;
}

bool parse_ipv4(const std::string& text, uint32_t* network_order) {
  uint8_t b[4];
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    unsigned v = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
      v = v * 10 + static_cast<unsigned>(text[at++] - '0');
      ++digits;
    }
    if (digits == 0 || v > 255) return false;
    b[i] = static_cast<uint8_t>(v);
  }
  if (at != text.size()) return false;
  *network_order = bytes::load_u32le(b);  // the bytes as they sit in memory
  return true;
}

bool parse_hex_bytes(const std::string& text, uint8_t* out, size_t size) {
  std::string t = text.rfind("0x", 0) == 0 ? text.substr(2) : text;
  if (t.size() != size * 2) return false;
  for (size_t i = 0; i < size; ++i) {
    int h = hex_value(t[2 * i]), l = hex_value(t[2 * i + 1]);
    if (h < 0 || l < 0) return false;
    out[i] = static_cast<uint8_t>(h << 4 | l);
  }
  return true;
}

}  // namespace tool
