// Registry value readers with the library's type and size rules.
#include "core/registry_readers.h"

#include <cstring>
#include <new>

#include "base/bytes.h"

namespace core {

int registry_number(uint32_t type, const uint8_t* data, uint32_t size, uint32_t* out) {
  if (type != platform::reg_dword || size < 4 || !data) return 1;
  *out = bytes::load_u32le(data);
  return 0;
}

bool registry_text_accepted(uint32_t type, uint32_t size) {
  const bool text = type == platform::reg_sz || type == platform::reg_expand_sz ||
                    type == platform::reg_multi_sz;
  return text && size <= registry_text_capacity;
}

int registry_read_dword(platform::registry_key* key, const char* name, uint32_t* out) {
  if (!key) return 1;
  uint8_t data[8];
  uint32_t type = 0, size = sizeof data;
  if (platform::registry_query(key, name, &type, data, &size) == 0)
    return registry_number(type, data, size, out);

  // Missing, or more bytes than the room above: a number value of any size
  // counts, so learn its size and read it whole.
  if (platform::registry_query(key, name, &type, nullptr, &size) != 0) return 1;
  if (type != platform::reg_dword || size < 4) return 1;
  uint8_t* whole = new (std::nothrow) uint8_t[size];
  if (!whole) return 1;
  int rc = platform::registry_query(key, name, &type, whole, &size) == 0
               ? registry_number(type, whole, size, out)
               : 1;
  delete[] whole;
  return rc;
}

int registry_read_dword(platform::registry_root root, const char* name, uint32_t* out) {
  platform::registry_key* key = platform::registry_open(root);
  if (!key) return 1;
  int rc = registry_read_dword(key, name, out);
  platform::registry_close(key);
  return rc;
}

int read_server_browser_mode(uint32_t* out) {
  if (registry_read_dword(platform::registry_root::current_user, "serverBrowserMode", out) == 0)
    return 0;
  return registry_read_dword(platform::registry_root::local_machine, "serverBrowserMode", out);
}

int registry_read_string(const char* name, char* out) {
  platform::registry_key* key = platform::registry_open(platform::registry_root::current_user);
  if (!key) return 1;
  char data[registry_text_capacity];
  uint32_t type = 0, size = registry_text_capacity;
  int rc = platform::registry_query(key, name, &type, data, &size);
  platform::registry_close(key);
  if (rc != 0 || !registry_text_accepted(type, size)) return 1;
  std::memcpy(out, data, size);
  out[size] = '\0';
  return 0;
}

}  // namespace core
