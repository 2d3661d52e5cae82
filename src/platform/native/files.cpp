// Native files and folders; the application-data folder lives under a
// temporary directory unless a test names another.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "base/text.h"
#include "platform/native/seam_calls.h"
#include "platform/native/test_controls.h"

namespace platform {
namespace {
std::mutex guard;
bool appdata_set = false;
bool appdata_valid = true;
std::string appdata;

std::string default_appdata() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  return base + "/ostrel-appdata-" + std::to_string(::getpid());
}

// Windows-style separators from portable code name the same folders here.
std::string native_path(const char* path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}
}  // namespace

FILE* open_file(const char* path, const char* mode) {
  seam_calls::note("open_file", path);
  return std::fopen(native_path(path).c_str(), mode);
}

int appdata_folder(char* out, size_t size) {
  seam_calls::note("appdata_folder");
  std::lock_guard<std::mutex> hold(guard);
  if (!appdata_set) {
    appdata = default_appdata();
    ::mkdir(appdata.c_str(), 0700);
    appdata_set = true;
  }
  if (!appdata_valid || size == 0) return 1;
  return text::copy_bounded(out, size, appdata.c_str());
}

void create_folder(const char* path) {
  seam_calls::note("create_folder", path);
  ::mkdir(native_path(path).c_str(), 0700);
}

int file_status(const char* path) {
  seam_calls::note("file_status", path);
  struct stat st;
  return ::stat(native_path(path).c_str(), &st) == 0 ? 0 : 1;
}

int replace_file(const char* from, const char* to) {
  seam_calls::note("replace_file", to);
  return std::rename(native_path(from).c_str(), native_path(to).c_str()) == 0 ? 0 : 1;
}

void remove_file(const char* path) {
  seam_calls::note("remove_file", path);
  std::remove(native_path(path).c_str());
}

namespace test {
void set_appdata_folder(const char* path) {
  std::lock_guard<std::mutex> hold(guard);
  appdata_set = true;
  appdata_valid = path != nullptr;
  appdata = path ? path : "";
}
}  // namespace test

}  // namespace platform
