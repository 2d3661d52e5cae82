// Native in-memory registry with the product key under two roots.
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/native/seam_calls.h"
#include "platform/native/test_controls.h"

namespace platform {

struct registry_key {
  registry_root root;
};

namespace {
struct value {
  uint32_t type;
  std::vector<uint8_t> data;
};
struct root_store {
  bool exists = false;
  std::map<std::string, value> values;
};
std::mutex guard;
root_store roots[2];
registry_key handles[2] = {{registry_root::current_user}, {registry_root::local_machine}};
root_store& store(registry_root r) { return roots[r == registry_root::current_user ? 0 : 1]; }
}  // namespace

registry_key* registry_open(registry_root root) {
  seam_calls::note("registry_open");
  std::lock_guard<std::mutex> hold(guard);
  if (!store(root).exists) return nullptr;
  return &handles[root == registry_root::current_user ? 0 : 1];
}

void registry_close(registry_key*) { seam_calls::note("registry_close"); }

int registry_query(registry_key* key, const char* name, uint32_t* type, void* data,
                   uint32_t* size) {
  seam_calls::note("registry_query", name);
  if (!key) return 1;
  std::lock_guard<std::mutex> hold(guard);
  auto& values = store(key->root).values;
  auto it = values.find(name);
  if (it == values.end()) return 1;
  if (data) {
    if (it->second.data.size() > *size) return 1;
    if (!it->second.data.empty()) std::memcpy(data, it->second.data.data(), it->second.data.size());
  }
  *type = it->second.type;
  *size = static_cast<uint32_t>(it->second.data.size());
  return 0;
}

namespace test {
void registry_reset() {
  std::lock_guard<std::mutex> hold(guard);
  for (auto& r : roots) r = root_store{};
}
void registry_create_product_key(registry_root root) {
  std::lock_guard<std::mutex> hold(guard);
  store(root).exists = true;
}
void registry_set(registry_root root, const char* name, uint32_t type, const void* data,
                  uint32_t size) {
  std::lock_guard<std::mutex> hold(guard);
  auto& s = store(root);
  s.exists = true;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  s.values[name] = value{type, std::vector<uint8_t>(p, p + size)};
}
void registry_set_dword(registry_root root, const char* name, uint32_t v) {
  uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                  static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  registry_set(root, name, reg_dword, b, 4);
}
void registry_set_string(registry_root root, const char* name, const std::string& v) {
  registry_set(root, name, reg_sz, v.c_str(), static_cast<uint32_t>(v.size() + 1));
}
void registry_delete(registry_root root, const char* name) {
  std::lock_guard<std::mutex> hold(guard);
  store(root).values.erase(name);
}
}  // namespace test

}  // namespace platform
