// Hooks on the host's calls of its script runtime, installed by patching the
// host executable's import table at start-up.
#include "script/script_hooks.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "base/hidden_text.h"
#include "core/host_patching.h"
#include "core/start_gate.h"
#include "core/random.h"
#include "platform/platform.h"
#include "script/module_frame.h"

namespace script {

py_object* host_module = nullptr;

namespace {
constexpr text::hidden_text module_name{"ostrellib"};
std::atomic<bool> withdrawn{false};

void keep_host_module(py_object* m) {
  // The runtime hands the module out as a borrowed reference; holding one of
  // our own keeps it alive should the host's module table ever drop it.
  py_incref(m);
  py_object* previous = host_module;
  host_module = m;
  if (previous) py_decref(previous);
}
}  // namespace

py_object* hooked_Py_InitModule4(const char* name, py_method* methods, const char* doc,
                                 py_object* self, int api_version) {
  core::pass_start_gate();
  py_object* m = real_init_module(name, methods, doc, self, api_version);
  if (!m || withdrawn.load() || std::strcmp(name, "host") != 0) return m;
  core::seed_random();
  // Without every runtime function the module's functions could not run, so
  // the module is then not offered to the scripts at all.
  if (runtime_bound() || bind_runtime() == 0) {
    char own[module_name.size];
    module_name.reveal(own);
    real_init_module(own, module_methods(), doc, self, api_version);
    text::wipe(own, sizeof own);
  }
  keep_host_module(m);
  return m;
}

py_object* hooked_PyImport_ImportModule(const char* name) {
  core::pass_start_gate();
  py_object* m = real_import_module(name);
  if (!m || withdrawn.load() || std::strcmp(name, "bf2") != 0) return m;
  if (platform::file_status("python/bf2/ostrel/__init__.py") != 0 &&
      platform::file_status("python/bf2/ostrel/__init__.pyc") != 0)
    return m;
  py_object* companion = hooked_PyImport_ImportModule("bf2.ostrel");
  if (!companion) {
    // The host's "bf2" import fails with the companion package's error; the
    // reference to "bf2" that it will never see is given back.
    py_decref(m);
    return nullptr;
  }
  py_decref(companion);
  return m;
}

void withdraw_script_hooks() { withdrawn.store(true); }

int install_script_hooks() {
  withdrawn.store(false);
  const uint8_t* image = platform::main_module_image();
  real_init_module = reinterpret_cast<init_module_fn>(
      core::patch_import(image, runtime_library, "Py_InitModule4",
                         reinterpret_cast<uintptr_t>(&hooked_Py_InitModule4)));
  real_import_module = reinterpret_cast<import_module_fn>(
      core::patch_import(image, runtime_library, "PyImport_ImportModule",
                         reinterpret_cast<uintptr_t>(&hooked_PyImport_ImportModule)));
  return 0;
}

}  // namespace script
