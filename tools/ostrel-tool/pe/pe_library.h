// A DLL as the doctor checks ostrel.dll: a 32-bit x86 DLL, the names it
// exports, and the file version of its version resource.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pe {

struct library_view {
  bool dll = false;                  // the file header's DLL flag
  std::vector<std::string> exports;  // exported names, as the file lists them
  bool has_version = false;
  uint16_t version[4] = {};          // the file version, major first
  std::string version_error;         // why there is no version
};

// 0 and the view when the headers are those of a 32-bit x86 image (exports
// and version read as far as they are sound); 1 and one line in error otherwise.
int read_library(const uint8_t* file, size_t size, library_view& out, std::string& error);

}  // namespace pe
