// Readers of the values under the product key "Software\Ostrel Systems\Ostrel Client".
#pragma once
#include <cstdint>

#include "platform/platform.h"

namespace core {

// 0 and *out set when the value is a 32-bit number of at least 4 bytes; 1 and
// *out untouched otherwise.  The first form reads an already opened key, the
// second opens the product key under root, reads and closes it.
int registry_read_dword(platform::registry_key* key, const char* name, uint32_t* out);
int registry_read_dword(platform::registry_root root, const char* name, uint32_t* out);

// serverBrowserMode: current user first, then local machine.  0 on success.
int read_server_browser_mode(uint32_t* out);

// A text value (plain, expandable or multi-string) of at most 99 bytes from the
// current user's product key; out holds at least 100 bytes and is terminated
// right after the stored bytes.  0 on success, 1 otherwise (out untouched).
inline constexpr uint32_t registry_text_capacity = 99;
int registry_read_string(const char* name, char* out);

}  // namespace core
