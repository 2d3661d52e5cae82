// Reads a deployment file ("key = value" lines, "#" comments) at run time, so
// the reference service and the tools use the same values the DLL was built with.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace service {

struct deploy_values {
  std::map<std::string, std::string> values;
  std::string get(const std::string& key) const;
  // Four 32-bit words of a chaining state such as "lookup_chain".
  bool chain(const std::string& key, uint32_t out[4]) const;
  // Exactly count hex bytes ("0x8c 0xa0 ...") such as "ranked_feedback".
  bool byte_list(const std::string& key, uint8_t* out, size_t count) const;
};

// false when the file cannot be read or holds a line that is not key = value.
bool read_deploy_file(const std::string& path, deploy_values& out, std::string& error);

}  // namespace service
