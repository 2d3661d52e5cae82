// Whole-file reads and the two careful ways the tool writes: replacing a file
// through a temporary copy renamed over it, and creating a file that must not
// exist yet.  Every failure comes back as one line in error.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tool {

// How refusals name an input: its path, or "standard input" for "-".
std::string input_name(const std::string& path);

// Reads all of path ("-": standard input), at most limit bytes.
bool read_input(const std::string& path, std::vector<uint8_t>& out, std::string& error,
                size_t limit = size_t{256} << 20);

bool file_exists(const std::string& path);

// Writes data to a temporary file beside path and renames it over path; path
// is either untouched or holds all of data.  The file keeps its permissions.
bool replace_file(const std::string& path, const std::vector<uint8_t>& data, std::string& error);

// Creates path holding data; fails, leaving an existing path alone, when it exists.
bool create_new_file(const std::string& path, const std::vector<uint8_t>& data,
                     std::string& error);

// Renames from over to (which may exist); false when the system refuses.
bool rename_over(const std::string& from, const std::string& to);
// Renames from to to, failing when to exists.
bool rename_new(const std::string& from, const std::string& to);

}  // namespace tool
