// The library's script module: its method table and the routines through which
// its functions talk to the host game's own module.
#pragma once
#include <cstddef>

#include "script/py_runtime.h"

namespace script {

// The method table handed to the runtime when the module is registered.
py_method* module_methods();

// The host module is a module object (or of a subtype).
bool host_module_ready();

// Copies a text answer of the host module into field (size bytes, cut and
// terminated) and releases it.  1 when there is no answer (the runtime's
// error stands) or it is not text (TypeError "fatal error (4)" is raised).
int copy_string_result(char* field, size_t size, py_object* result);

// The host module's answers: its mod directory, and the console's reply to a
// text (a console variable name or a command).  New references, or null with
// the runtime's error pending.
py_object* host_mod_directory();
py_object* host_console(const char* text);

// A console variable's value into a 20-byte field.  0, or 1 with an error pending.
inline constexpr size_t host_setting_size = 20;
int read_host_setting(char* field, const char* name);

// Raises type with "fatal error (%d)" and code; returns null for the caller to hand back.
py_object* raise_fatal(py_object* type, int code);

}  // namespace script
