// Values under the product key of Wine's real registry, set and removed by
// the Windows unit tests themselves.
#pragma once
#include <windows.h>

#include <string>

namespace wine_test {

inline const char product_key[] = "Software\\Ostrel Systems\\Ostrel Client";

inline bool set_value(HKEY root, const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyA(root, product_key, &key) != ERROR_SUCCESS) return false;
  LONG rc = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

inline bool set_dword(HKEY root, const char* name, DWORD value) {
  return set_value(root, name, REG_DWORD, &value, sizeof value);
}

inline void delete_value(HKEY root, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyA(root, product_key, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

inline void delete_product_key(HKEY root) { RegDeleteKeyA(root, product_key); }

}  // namespace wine_test
