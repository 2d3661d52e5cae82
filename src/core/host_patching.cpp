// Import slot patching: header checks, the import descriptors, the slot found by
// the real address, and a store that respects the page's protection.
#include "core/host_patching.h"

#include "base/bytes.h"
#include "platform/platform.h"

namespace core {

namespace {
// Data directory entry 1 (the import table) of the optional header: PE32
// images carry it at 104, PE32+ images (natively built tests) at 120.
constexpr size_t import_directory = sizeof(uintptr_t) == 4 ? 104 : 120;

bool same_name_ignoring_case(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
    char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
    if (x != y) return false;
    if (!x) return true;
  }
}

bool name_readable(const char* name) {
  // Library names are short; a name that runs past this is no name.
  for (size_t i = 0; i < 260; ++i) {
    if (!platform::memory_readable(name + i, 1)) return false;
    if (!name[i]) return true;
  }
  return false;
}

// The first descriptor whose library name is dll_name, or null.
const uint8_t* find_descriptor(const uint8_t* image, uint32_t directory, const char* dll_name) {
  for (const uint8_t* d = image + directory;; d += import_descriptor_size) {
    if (!platform::memory_readable(d, import_descriptor_size)) return nullptr;
    uint32_t name = bytes::load_u32le(d + import_name);
    if (name == 0) return nullptr;
    const char* text = reinterpret_cast<const char*>(image + name);
    if (name_readable(text) && same_name_ignoring_case(text, dll_name)) return d;
  }
}
}  // namespace

uintptr_t patch_import(const uint8_t* image, const char* dll_name, const char* function_name,
                       uintptr_t replacement) {
  if (!platform::valid_code_address(reinterpret_cast<const void*>(replacement))) return 0;
  const uintptr_t real =
      reinterpret_cast<uintptr_t>(platform::loaded_module_symbol(dll_name, function_name));
  if (!real || !image) return 0;

  if (!platform::memory_readable(image, dos_readable) || image[0] != 'M' || image[1] != 'Z')
    return 0;
  const uint8_t* pe = image + bytes::load_u32le(image + dos_new_header);
  if (!platform::memory_readable(pe, pe_readable) || pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 ||
      pe[3] != 0)
    return 0;
  const uint32_t directory = bytes::load_u32le(pe + pe_optional_header + import_directory);
  if (directory == 0) return 0;

  const uint8_t* descriptor = find_descriptor(image, directory, dll_name);
  if (!descriptor) return 0;
  const uint32_t table = bytes::load_u32le(descriptor + import_address_table);
  if (table == 0) return 0;
  for (uint8_t* slot = const_cast<uint8_t*>(image) + table;; slot += sizeof(uintptr_t)) {
    if (!platform::memory_readable(slot, sizeof(uintptr_t))) return 0;
    uintptr_t value = *reinterpret_cast<const uintptr_t*>(slot);
    if (value == 0) return 0;
    if (value == real) return platform::store_code_pointer(slot, replacement) == 0 ? real : 0;
  }
}

}  // namespace core
