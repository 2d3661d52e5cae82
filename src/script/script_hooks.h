// The dedicated server's hooks on its script runtime: the host's registration
// of its "host" module brings the library's own module, and its import of the
// "bf2" package brings the companion package "bf2.ostrel" when present.
#pragma once
#include "script/py_runtime.h"

namespace script {

// Patches the main module's imports of the runtime's registration and import
// functions.  Always 0; a failed patch leaves its hook absent.
int install_script_hooks();

// From now on the hooks hand every call straight to the runtime, as if the
// imports had never been patched (the worker that the module needs could not
// be started).
void withdraw_script_hooks();

// Both hooks are entries into the library: they pass the start gate first.
py_object* hooked_Py_InitModule4(const char* name, py_method* methods, const char* doc,
                                 py_object* self, int api_version);
py_object* hooked_PyImport_ImportModule(const char* name);

// The host game's own module as last registered (null before).
extern py_object* host_module;

}  // namespace script
