// Readers of the values under the product key "Software\Ostrel Systems\Ostrel Client".
#pragma once
#include <cstdint>

#include "platform/platform.h"

namespace core {

// The rules every reader below applies, public so that a checker judges a
// stored value exactly as the library reads it.  A number value is a
// REG_DWORD of at least 4 bytes, its first 4 read and any after them not
// looked at: 0 and *out set, 1 and *out untouched otherwise.
int registry_number(uint32_t type, const uint8_t* data, uint32_t size, uint32_t* out);
// A text value is plain, expandable or multi-string text of at most
// registry_text_capacity bytes (read up to its first NUL).
inline constexpr uint32_t registry_text_capacity = 99;
bool registry_text_accepted(uint32_t type, uint32_t size);

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
int registry_read_string(const char* name, char* out);

}  // namespace core
