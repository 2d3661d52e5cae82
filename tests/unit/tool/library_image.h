// Hand-made 32-bit DLLs for the doctor's tests: an export table of the names
// given and a version resource of the version given, in one section; for the
// hostile kind, empty sections ahead of it and resource types ahead of the
// version's.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace library_image {

struct options {
  std::vector<std::string> exports;  // default: every name ostrel.dll exports
  bool all_exports = true;
  bool version = true;
  uint16_t file_version[4] = {0, 0, 0, 0};  // default: the build's own
  bool own_version = true;
  bool dll = true;  // the file header's DLL flag
  uint16_t sections = 1;  // all but the last empty, the last holding everything
  size_t other_resource_types = 0;  // at most 131,069: half named, half numbered
};

std::vector<uint8_t> build(const options& o);

}  // namespace library_image
