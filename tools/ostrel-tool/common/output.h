// What every command prints: one "ostrel-tool: ..." line on standard error for
// a refusal (and a non-zero exit), and JSON objects for --json.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tool {

// Prints "ostrel-tool: <line>" on standard error; returns 1, the exit code.
int refuse(const std::string& line);

std::string json_string(const std::string& text);

// A JSON object built field by field, in order.
class json_object {
 public:
  json_object& text(const std::string& key, const std::string& value);
  json_object& number(const std::string& key, uint64_t value);
  json_object& flag(const std::string& key, bool value);
  json_object& raw(const std::string& key, const std::string& json);  // an array or object
  std::string str() const;

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
};

std::string json_array(const std::vector<std::string>& items);  // items are JSON already

std::string hex_u32(uint32_t value);  // "0x1234ABCD"
std::string hex_bytes(const uint8_t* data, size_t size);  // lower-case, no spaces
std::string ipv4_text(uint32_t network_order);
std::string utc_text(uint32_t seconds);  // "2023-11-14 22:13:20 UTC"

}  // namespace tool
