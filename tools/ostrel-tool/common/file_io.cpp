// Reads and careful writes for the tool's commands.
#include "common/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/path_text.h"

namespace tool {
namespace {

std::string reason(const std::string& path, const char* what) {
  return path + ": " + what + " (" + std::strerror(errno) + ")";
}

bool write_all(const std::string& path, const std::vector<uint8_t>& data, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    error = reason(path, "cannot create");
    return false;
  }
  bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = std::fflush(f) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    error = reason(path, "cannot write");
    std::remove(path.c_str());
  }
  return ok;
}

}  // namespace

std::string input_name(const std::string& path) { return path == "-" ? "standard input" : path; }

bool read_input(const std::string& path, std::vector<uint8_t>& out, std::string& error,
                size_t limit) {
  out.clear();
  const bool is_stdin = path == "-";
  std::FILE* f = is_stdin ? stdin : std::fopen(path.c_str(), "rb");
  if (!f) {
    error = reason(path, "cannot open");
    return false;
  }
  uint8_t chunk[65536];
  size_t n;
  bool too_big = false;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (out.size() + n > limit) {
      too_big = true;
      break;
    }
    out.insert(out.end(), chunk, chunk + n);
  }
  bool failed = std::ferror(f) != 0;
  if (!is_stdin) std::fclose(f);
  if (too_big) {
    error = input_name(path) + ": larger than " +
            std::to_string(limit >> 20) + " MiB";
    return false;
  }
  if (failed) {
    error = reason(input_name(path), "cannot read");
    return false;
  }
  return true;
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(text_path(path), ec);
}

bool replace_file(const std::string& path, const std::vector<uint8_t>& data, std::string& error) {
  const std::string temporary = path + ".ostrel-tmp";
  if (!write_all(temporary, data, error)) return false;
  std::error_code ec;
  auto permissions = std::filesystem::status(text_path(path), ec).permissions();
  if (!ec) std::filesystem::permissions(text_path(temporary), permissions, ec);
  if (!rename_over(temporary, path)) {
    error = reason(path, errno == EACCES ? "cannot replace (is the game running, or the folder read-only?)"
                                         : "cannot replace");
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool create_new_file(const std::string& path, const std::vector<uint8_t>& data,
                     std::string& error) {
  const std::string temporary = path + ".ostrel-tmp";
  if (!write_all(temporary, data, error)) return false;
  if (!rename_new(temporary, path)) {
    error = file_exists(path) ? path + ": exists already" : reason(path, "cannot create");
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace tool
