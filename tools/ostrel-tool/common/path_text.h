// File-system paths as the tool's narrow file calls take them.  On Windows
// those calls (fopen, stat, the library's own) read the ANSI code page, while
// MinGW's std::filesystem converts narrow text as UTF-8 or the C locale would:
// a game or user folder named in the player's own language would be looked for
// in the wrong place.  So paths cross between the two through their wide form
// and the code page, never through path::string() or path(std::string).
#pragma once
#include <filesystem>
#include <string>

namespace tool {

// The path as the narrow calls spell it; "" when it holds a character the
// code page cannot spell (no narrow call can open such a file, the game's
// included).
std::string path_text(const std::filesystem::path& path);

// A path the narrow calls take, as a std::filesystem path; an empty path when
// the text is not valid in the code page.
std::filesystem::path text_path(const std::string& text);

}  // namespace tool
