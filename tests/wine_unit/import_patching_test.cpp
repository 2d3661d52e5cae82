// Import slot patching on real linked modules under Wine: modules that call the
// real script runtime (dice_py.dll) through their import tables, one naming it
// in capitals, and modules that do not import it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "core/host_patching.h"
#include "platform/platform.h"

namespace {

struct PyObject;
using init_probe_fn = PyObject* (*)(const char*);

const char* seen_name = nullptr;
PyObject* fake_init_module(const char* name, void*, const char*, PyObject*, int) {
  seen_name = name;
  return reinterpret_cast<PyObject*>(0x1234);
}
PyObject* fake_import(const char* name) {
  seen_name = name;
  return reinterpret_cast<PyObject*>(0x5678);
}

HMODULE runtime() {
  static HMODULE module = LoadLibraryA("dice_py.dll");
  return module;
}

struct probe {
  HMODULE module;
  init_probe_fn init_module;
  init_probe_fn import;
};

probe load_probe(const char* name) {
  runtime();  // the runtime is loaded before any module that imports it, as in the game
  HMODULE m = LoadLibraryA(name);
  probe p{m, nullptr, nullptr};
  if (m) {
    p.init_module = reinterpret_cast<init_probe_fn>(
        reinterpret_cast<void*>(GetProcAddress(m, "probe_init_module")));
    p.import =
        reinterpret_cast<init_probe_fn>(reinterpret_cast<void*>(GetProcAddress(m, "probe_import")));
  }
  return p;
}

const uint8_t* image(HMODULE m) { return reinterpret_cast<const uint8_t*>(m); }

uintptr_t real(const char* function) {
  return reinterpret_cast<uintptr_t>(reinterpret_cast<void*>(GetProcAddress(runtime(), function)));
}

// The import address table of a loaded module, from its own headers.
void* import_address_table(HMODULE m, DWORD* size) {
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(m);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(reinterpret_cast<uint8_t*>(m) + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& iat = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
  *size = iat.Size;
  return reinterpret_cast<uint8_t*>(m) + iat.VirtualAddress;
}

TEST(ImportPatching, RuntimeImportReachesTheReplacement) {
  ASSERT_NE(runtime(), nullptr) << "dice_py.dll beside the test";
  probe p = load_probe("patch_probe_runtime.dll");
  ASSERT_NE(p.module, nullptr);
  ASSERT_NE(real("Py_InitModule4"), 0u);
  EXPECT_EQ(core::patch_import(image(p.module), "dice_py.dll", "Py_InitModule4",
                               reinterpret_cast<uintptr_t>(&fake_init_module)),
            real("Py_InitModule4"));
  seen_name = nullptr;
  EXPECT_EQ(p.init_module("host"), reinterpret_cast<PyObject*>(0x1234));
  EXPECT_STREQ(seen_name, "host");
  // The slot now holds the replacement, not the real address: a second patch finds nothing.
  EXPECT_EQ(core::patch_import(image(p.module), "dice_py.dll", "Py_InitModule4",
                               reinterpret_cast<uintptr_t>(&fake_init_module)),
            0u);
}

TEST(ImportPatching, RuntimeNamedInCapitalsIsPatched) {
  probe p = load_probe("patch_probe_caps.dll");
  ASSERT_NE(p.module, nullptr);
  EXPECT_EQ(core::patch_import(image(p.module), "dice_py.dll", "PyImport_ImportModule",
                               reinterpret_cast<uintptr_t>(&fake_import)),
            real("PyImport_ImportModule"));
  seen_name = nullptr;
  EXPECT_EQ(p.import("bf2"), reinterpret_cast<PyObject*>(0x5678));
  EXPECT_STREQ(seen_name, "bf2");
}

TEST(ImportPatching, SlotInReadOnlyPageIsWrittenAndProtectionPutBack) {
  probe p = load_probe("patch_probe_runtime.dll");
  ASSERT_NE(p.module, nullptr);
  DWORD size = 0;
  void* table = import_address_table(p.module, &size);
  ASSERT_GT(size, 0u);
  DWORD previous = 0;
  ASSERT_TRUE(VirtualProtect(table, size, PAGE_READONLY, &previous));
  EXPECT_EQ(core::patch_import(image(p.module), "dice_py.dll", "PyImport_ImportModule",
                               reinterpret_cast<uintptr_t>(&fake_import)),
            real("PyImport_ImportModule"));
  MEMORY_BASIC_INFORMATION info{};
  ASSERT_NE(VirtualQuery(table, &info, sizeof info), 0u);
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READONLY));
  seen_name = nullptr;
  EXPECT_EQ(p.import("bf2.other"), reinterpret_cast<PyObject*>(0x5678));
  EXPECT_STREQ(seen_name, "bf2.other");
  VirtualProtect(table, size, previous, &previous);
}

TEST(ImportPatching, RefusalsChangeNothing) {
  probe none = load_probe("patch_probe_none.dll");
  ASSERT_NE(none.module, nullptr);
  probe caps = load_probe("patch_probe_caps.dll");
  ASSERT_NE(caps.module, nullptr);
  const uintptr_t hook = reinterpret_cast<uintptr_t>(&fake_init_module);
  static const uint8_t not_an_image[256] = {};
  struct refusal {
    const char* what;
    const uint8_t* image;
    const char* dll;
    const char* function;
    uintptr_t replacement;
  } cases[] = {
      {"module without the runtime", image(none.module), "dice_py.dll", "Py_InitModule4", hook},
      {"main module without the runtime", platform::main_module_image(), "dice_py.dll",
       "Py_InitModule4", hook},
      {"runtime function not imported", image(caps.module), "dice_py.dll", "PyRun_SimpleString", hook},
      {"function the runtime lacks", image(caps.module), "dice_py.dll", "Py_NoSuchFunction", hook},
      {"library not loaded", image(caps.module), "absent_py.dll", "Py_InitModule4", hook},
      {"replacement not code", image(caps.module), "dice_py.dll", "Py_InitModule4", 0},
      {"no image", nullptr, "dice_py.dll", "Py_InitModule4", hook},
      {"not an image", not_an_image, "dice_py.dll", "Py_InitModule4", hook},
  };
  for (const refusal& c : cases)
    EXPECT_EQ(core::patch_import(c.image, c.dll, c.function, c.replacement), 0u) << c.what;
  // The refused patch of the capitals probe left its slot to the real runtime.
  EXPECT_EQ(core::patch_import(image(caps.module), "DICE_PY.DLL", "Py_InitModule4", hook),
            real("Py_InitModule4"));
}

}  // namespace
