// Module queries and memory protection for patching the host executable's
// import table.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {
// Platform versions whose version word has its two top bits 10 hand out module
// handles that are not base addresses; their kernel translates one into the
// other.
const uint8_t* legacy_module_base(HMODULE module) {
  HMODULE kernel = GetModuleHandleA("W32SKRNL.DLL");
  if (!kernel) return nullptr;
  using imte_from_module_fn = DWORD(WINAPI*)(HMODULE);
  using base_from_imte_fn = DWORD(WINAPI*)(DWORD);
  auto imte_from_module = reinterpret_cast<imte_from_module_fn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "_ImteFromHModule@4")));
  auto base_from_imte = reinterpret_cast<base_from_imte_fn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "_BaseAddrFromImte@4")));
  if (!imte_from_module || !base_from_imte) return nullptr;
  DWORD imte = imte_from_module(module);
  if (!imte) return nullptr;
  return reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(base_from_imte(imte)));
}
}  // namespace

const uint8_t* main_module_image() {
  HMODULE module = GetModuleHandleA(nullptr);
  if (!module) return nullptr;
  if ((GetVersion() >> 30) == 2) return legacy_module_base(module);
  return reinterpret_cast<const uint8_t*>(module);
}

void* loaded_module_symbol(const char* module, const char* name) {
  HMODULE handle = GetModuleHandleA(module);
  if (!handle) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(handle, name));
}

bool memory_readable(const void* p, size_t size) { return !IsBadReadPtr(p, size); }

bool valid_code_address(const void* p) {
  return !IsBadCodePtr(reinterpret_cast<FARPROC>(const_cast<void*>(p)));
}

int store_code_pointer(void* slot, uintptr_t value) {
  if (!IsBadWritePtr(slot, sizeof value)) {
    *static_cast<volatile uintptr_t*>(slot) = value;
    return 0;
  }
  DWORD previous = 0;
  if (!VirtualProtect(slot, sizeof value, PAGE_EXECUTE_READWRITE, &previous)) return 1;
  *static_cast<volatile uintptr_t*>(slot) = value;
  DWORD ignored = 0;
  VirtualProtect(slot, sizeof value, previous, &ignored);
  return 0;
}

}  // namespace platform
