// Refusal lines and JSON text for the tool's commands.
#include "common/output.h"

#include <cstdio>
#include <ctime>

#include "base/bytes.h"

namespace tool {

int refuse(const std::string& line) {
  std::fprintf(stderr, "ostrel-tool: %s\n", line.c_str());
  return 1;
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          // Bytes outside printable ASCII keep their value as a code point.
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

json_object& json_object::text(const std::string& key, const std::string& value) {
  fields_.emplace_back(key, json_string(value));
  return *this;
}
json_object& json_object::number(const std::string& key, uint64_t value) {
  fields_.emplace_back(key, std::to_string(value));
  return *this;
}
json_object& json_object::flag(const std::string& key, bool value) {
  fields_.emplace_back(key, value ? "true" : "false");
  return *this;
}
json_object& json_object::raw(const std::string& key, const std::string& json) {
  fields_.emplace_back(key, json);
  return *this;
}
std::string json_object::str() const {
  std::string out = "{";
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (i) out += ", ";
    out += json_string(fields_[i].first) + ": " + fields_[i].second;
  }
  return out + "}";
}

std::string json_array(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
  return out + "]";
}

std::string hex_u32(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", value);
  return buf;
}

std::string hex_bytes(const uint8_t* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

std::string ipv4_text(uint32_t network_order) {
  uint8_t b[4];
  bytes::store_u32le(b, network_order);  // the bytes as they sit in memory
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return buf;
}

std::string utc_text(uint32_t seconds) {
  const std::time_t t = seconds;
  const std::tm* tm = std::gmtime(&t);  // the tool runs on one thread
  char buf[32];
  if (!tm || std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", tm) == 0) return "?";
  return buf;
}

}  // namespace tool
