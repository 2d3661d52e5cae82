// A 32-bit PE file as the tool's readers walk it: its headers checked once,
// then every address they follow mapped to file bytes with its length
// checked, so that no claim in the file leads a reader past its end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace pe {

struct image {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t optional = 0;       // offset of the optional header
  size_t optional_size = 0;  // as the file header gives it
  size_t sections = 0;       // offset of the section table
  size_t section_count = 0;
  uint16_t characteristics = 0;  // the file header's flags
};

inline constexpr uint16_t characteristic_dll = 0x2000;

// The Windows loader takes at most 96 sections ("PE Format", Microsoft Learn,
// COFF File Header: NumberOfSections).  Holding a file to it also keeps every
// address mapping below a fixed cost, so no walk over a file's tables can grow
// with the square of its size.
inline constexpr size_t max_sections = 96;

// Checks the MZ and PE headers of a 32-bit x86 image and its section table;
// 0 and im set, or 1 and one line in error ("not a Windows executable ...",
// "truncated: ...", "a 64-bit executable ...", "more than 96 sections ...").
int open_image(const uint8_t* file, size_t size, image& im, std::string& error);

bool fits(const image& im, size_t offset, size_t length);

// The file offset of length bytes at rva; false when they are not all in the file.
bool map_rva(const image& im, uint32_t rva, size_t length, size_t* offset);

// The NUL-terminated name at offset; false when it runs past the file or
// is longer than limit.
bool read_name(const image& im, size_t offset, std::string* out, size_t limit = 260);

// A data directory's address and size; both 0 when the header has no such entry.
void directory(const image& im, uint32_t index, uint32_t* rva, uint32_t* size);

}  // namespace pe
