// Native process facts, all settable by tests.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>

#include "base/text.h"
#include "platform/native/seam_calls.h"
#include "platform/native/test_controls.h"

namespace platform {
namespace {
std::mutex guard;
std::string exe_path = "C:\\Games\\Game\\game.exe";
bool exe_path_valid = true;
std::string cmd_line = "game.exe";
std::map<uint32_t, std::string> image_names;
bool real_processes = false;

// A process that has ended but not yet been waited for (a zombie) has ended.
bool running(uint32_t pid) {
  if (pid == 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const size_t name_end = line.rfind(')');
  return name_end != std::string::npos && name_end + 2 < line.size() &&
         line[name_end + 2] != 'Z' && line[name_end + 2] != 'X';
}
}  // namespace

int executable_path(char* out, size_t size) {
  seam_calls::note("executable_path");
  std::lock_guard<std::mutex> hold(guard);
  if (!exe_path_valid || size == 0) return 1;
  text::copy_bounded(out, size, exe_path.c_str());
  return 0;
}

const char* command_line() {
  seam_calls::note("command_line");
  std::lock_guard<std::mutex> hold(guard);
  return cmd_line.c_str();
}

uint32_t process_id() {
  seam_calls::note("process_id");
  return static_cast<uint32_t>(::getpid());
}

int process_image_name(uint32_t pid, char* out, size_t size) {
  seam_calls::note("process_image_name");
  std::lock_guard<std::mutex> hold(guard);
  auto it = image_names.find(pid);
  if (it == image_names.end() && real_processes && size > 0 && running(pid)) {
    text::copy_bounded(out, size, "/proc/running");
    return 0;
  }
  if (it == image_names.end() || size == 0) return 1;
  text::copy_bounded(out, size, it->second.c_str());
  return 0;
}

void entropy(void* out, size_t size) {
  seam_calls::note("entropy");
  std::random_device device;
  uint8_t* p = static_cast<uint8_t*>(out);
  for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(device());
}

namespace test {
void set_executable_path(const char* path) {
  std::lock_guard<std::mutex> hold(guard);
  exe_path_valid = path != nullptr;
  exe_path = path ? path : "";
}
void set_command_line(const char* line) {
  std::lock_guard<std::mutex> hold(guard);
  cmd_line = line ? line : "";
}
void set_process_image_name(uint32_t pid, const char* name) {
  std::lock_guard<std::mutex> hold(guard);
  image_names[pid] = name;
}
void clear_process_image_names() {
  std::lock_guard<std::mutex> hold(guard);
  image_names.clear();
}
void use_real_processes(bool use) {
  std::lock_guard<std::mutex> hold(guard);
  real_processes = use;
}
}  // namespace test

}  // namespace platform
