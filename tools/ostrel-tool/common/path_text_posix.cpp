// Natively a path is its bytes both ways.
#include "common/path_text.h"

namespace tool {

std::string path_text(const std::filesystem::path& path) { return path.string(); }

std::filesystem::path text_path(const std::string& text) { return text; }

}  // namespace tool
