// A private temporary folder that is also the process's working folder for
// the life of the object: code that opens relative paths (settings file, log
// files) works inside it.  The previous working folder comes back and the
// folder goes with all its contents at the end.
#pragma once
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class working_folder {
 public:
  working_folder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ostrel-wf-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data())) path_ = buffer.data();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~working_folder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  working_folder(const working_folder&) = delete;
  working_folder& operator=(const working_folder&) = delete;

  const std::string& path() const { return path_; }

  static void write(const std::string& relative, const std::string& bytes) {
    std::filesystem::path p(relative);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
  }
  static std::string read(const std::string& relative) {
    std::ifstream in(relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
  std::filesystem::path previous_;
};
