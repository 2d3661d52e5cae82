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

namespace {
constexpr DWORD executable_access =
    PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD writable_access =
    PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD readable_access = writable_access | PAGE_READONLY | PAGE_EXECUTE_READ;

// The memory is asked about rather than touched: a probe that touches it
// (the IsBad...Ptr family) raises an access violation that debuggers and
// anti-cheat software see, and consumes a guard page.  True when every page
// of [p, p + size) is committed, neither guarded nor inaccessible, and has
// one of the access kinds wanted.
bool every_page_allows(const void* p, size_t size, DWORD wanted) {
  uintptr_t at = reinterpret_cast<uintptr_t>(p);
  const uintptr_t end = at + size;
  if (!p || size == 0 || end < at) return false;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) == 0) return false;
    if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0 ||
        (info.Protect & wanted) == 0)
      return false;
    at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}
}  // namespace

bool memory_readable(const void* p, size_t size) {
  return every_page_allows(p, size, readable_access);
}

bool valid_code_address(const void* p) { return every_page_allows(p, 1, executable_access); }

int store_code_pointer(void* slot, uintptr_t value) {
  if (every_page_allows(slot, sizeof value, writable_access)) {
    *static_cast<volatile uintptr_t*>(slot) = value;
    return 0;
  }
  // Write access is added for the store and the old protection put back; a
  // page that runs code keeps running it meanwhile.  A slot on a page that is
  // not readable, or across two pages, is no import slot.
  MEMORY_BASIC_INFORMATION info{};
  if (!every_page_allows(slot, sizeof value, readable_access) ||
      VirtualQuery(slot, &info, sizeof info) == 0 ||
      reinterpret_cast<uintptr_t>(slot) + sizeof value >
          reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize)
    return 1;
  const DWORD unprotected =
      (info.Protect & executable_access) != 0 ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE;
  DWORD previous = 0;
  if (!VirtualProtect(slot, sizeof value, unprotected, &previous)) return 1;
  *static_cast<volatile uintptr_t*>(slot) = value;
  DWORD ignored = 0;
  VirtualProtect(slot, sizeof value, previous, &ignored);
  return 0;
}

}  // namespace platform
