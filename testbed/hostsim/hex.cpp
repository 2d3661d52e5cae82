// Hex text for hostsim's line protocol.
#include "hex.h"

static int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool hex_decode(const std::string& text, std::vector<unsigned char>& out) {
  out.clear();
  if (text == "-") return true;  // the empty payload
  if (text.size() % 2) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = nibble(text[i]), lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<unsigned char>(hi * 16 + lo));
  }
  return true;
}

std::string hex_encode(const unsigned char* data, size_t length) {
  static const char digits[] = "0123456789abcdef";
  if (length == 0) return "-";
  std::string s;
  for (size_t i = 0; i < length; ++i) {
    s += digits[data[i] >> 4];
    s += digits[data[i] & 15];
  }
  return s;
}
