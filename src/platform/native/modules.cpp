// Native stand-ins for the module queries and memory protection of import
// patching: tests name the main module's image and the loaded modules'
// symbols; memory is always readable and writable here.
#include <map>
#include <mutex>
#include <string>

#include "platform/native/seam_calls.h"
#include "platform/native/test_controls.h"

namespace platform {
namespace {
std::mutex guard;
const uint8_t* main_image = nullptr;
std::map<std::string, void*> symbols;

std::string lower(const char* text) {
  std::string s = text;
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}
}  // namespace

const uint8_t* main_module_image() {
  seam_calls::note("main_module_image");
  std::lock_guard<std::mutex> hold(guard);
  return main_image;
}

void* loaded_module_symbol(const char* module, const char* name) {
  seam_calls::note("loaded_module_symbol", name);
  std::lock_guard<std::mutex> hold(guard);
  // Module names compare without case, as the Windows loader compares them.
  auto it = symbols.find(lower(module) + "!" + name);
  return it == symbols.end() ? nullptr : it->second;
}

bool memory_readable(const void* p, size_t) {
  seam_calls::note("memory_readable");
  return p != nullptr;
}
bool valid_code_address(const void* p) {
  seam_calls::note("valid_code_address");
  return p != nullptr;
}

int store_code_pointer(void* slot, uintptr_t value) {
  seam_calls::note("store_code_pointer");
  *static_cast<uintptr_t*>(slot) = value;
  return 0;
}

namespace test {
void set_main_module_image(const uint8_t* image) {
  std::lock_guard<std::mutex> hold(guard);
  main_image = image;
}
void set_module_symbol(const char* module, const char* name, void* address) {
  std::lock_guard<std::mutex> hold(guard);
  symbols[lower(module) + "!" + name] = address;
}
void clear_module_symbols() {
  std::lock_guard<std::mutex> hold(guard);
  symbols.clear();
}
}  // namespace test

}  // namespace platform
