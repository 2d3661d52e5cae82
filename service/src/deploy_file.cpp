// Deployment file reader for the service and tools.
#include "service/deploy_file.h"

#include <fstream>
#include <sstream>

namespace service {
namespace {
std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}
}  // namespace

std::string deploy_values::get(const std::string& key) const {
  auto it = values.find(key);
  return it == values.end() ? std::string() : it->second;
}

bool deploy_values::chain(const std::string& key, uint32_t out[4]) const {
  std::istringstream in(get(key));
  for (int i = 0; i < 4; ++i) {
    std::string word;
    if (!(in >> word)) return false;
    try {
      size_t used = 0;
      unsigned long v = std::stoul(word, &used, 16);
      if (used != word.size() || v > 0xffffffffUL) return false;
      out[i] = static_cast<uint32_t>(v);
    } catch (...) {
      return false;
    }
  }
  return true;
}

bool deploy_values::byte_list(const std::string& key, uint8_t* out, size_t count) const {
  std::istringstream in(get(key));
  std::string word;
  size_t n = 0;
  while (in >> word) {
    if (n == count) return false;
    try {
      size_t used = 0;
      unsigned long v = std::stoul(word, &used, 16);
      if (used != word.size() || v > 0xff) return false;
      out[n++] = static_cast<uint8_t>(v);
    } catch (...) {
      return false;
    }
  }
  return n == count;
}

bool read_deploy_file(const std::string& path, deploy_values& out, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      error = path + ":" + std::to_string(number) + ": not 'key = value'";
      return false;
    }
    out.values[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  return true;
}

}  // namespace service
