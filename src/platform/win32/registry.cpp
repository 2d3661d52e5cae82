// Windows registry access to the product key.
#include <windows.h>

#include "platform/platform.h"

namespace platform {
namespace {
const char product_key[] = "Software\\Ostrel Systems\\Ostrel Client";
}

registry_key* registry_open(registry_root root) {
  HKEY key = nullptr;
  HKEY base = root == registry_root::current_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  if (RegOpenKeyA(base, product_key, &key) != ERROR_SUCCESS) return nullptr;
  return reinterpret_cast<registry_key*>(key);
}

void registry_close(registry_key* key) {
  if (key) RegCloseKey(reinterpret_cast<HKEY>(key));
}

int registry_query(registry_key* key, const char* name, uint32_t* type, void* data,
                   uint32_t* size) {
  if (!key) return 1;
  DWORD t = 0;
  DWORD n = *size;
  LONG rc = RegQueryValueExA(reinterpret_cast<HKEY>(key), name, nullptr, &t,
                             static_cast<BYTE*>(data), &n);
  if (rc != ERROR_SUCCESS) return 1;
  *type = t;
  *size = n;
  return 0;
}

}  // namespace platform
