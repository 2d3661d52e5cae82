// The small part of the embedded Python 2 runtime's C interface that the
// script module uses, declared from the runtime's binary interface (32-bit
// release builds of versions 2.3 to 2.7).  The library never links against the
// runtime: start-up patches the host's imports of the two registration and
// import functions, and every other function or object is found by name in
// the loaded runtime (bind_runtime), so the DLL keeps importing system DLLs only.
#pragma once
#include <cstddef>
#include <cstdint>

namespace script {

struct py_type;

// Every object starts with its reference count and its type.
struct py_object {
  intptr_t refcount;
  py_type* type;
};

// The leading fields of a type object, up to its deallocation function.
struct py_type {
  py_object base;
  intptr_t item_count;
  const char* name;
  intptr_t basic_size;
  intptr_t item_size;
  void (*dealloc)(py_object*);
};

using py_function = py_object* (*)(py_object* self, py_object* args);

// One row of a method table.
struct py_method {
  const char* name;
  py_function function;
  int flags;
  const char* doc;
};

inline constexpr int py_positional = 1;  // arguments as a tuple for PyArg_ParseTuple
inline constexpr int py_no_arguments = 4;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(py_object, type) == 4 && sizeof(py_object) == 8);
static_assert(offsetof(py_type, name) == 12 && offsetof(py_type, dealloc) == 24);
static_assert(sizeof(py_method) == 16 && offsetof(py_method, flags) == 8);
#endif

using init_module_fn = py_object* (*)(const char* name, py_method* methods, const char* doc,
                                      py_object* self, int api_version);
using import_module_fn = py_object* (*)(const char* name);

// The runtime's functions and objects, all cdecl.  Exceptions are the objects
// themselves (the runtime exports pointer variables; binding reads them).
struct runtime_api {
  int (*parse_tuple)(py_object* args, const char* format, ...);
  py_object* (*error_format)(py_object* type, const char* format, ...);
  py_object* (*call_method)(py_object* o, const char* name, const char* format, ...);
  int (*is_subtype)(py_type* a, py_type* b);
  char* (*string_chars)(py_object* o);
  py_object* (*string_from)(const char* text);
  py_object* (*string_from_format)(const char* format, ...);
  py_object* (*long_from)(long value);
  py_object* none;
  py_object* true_object;
  py_object* false_object;
  py_type* module_type;
  py_type* string_type;
  py_object* runtime_error;
  py_object* value_error;
  py_object* type_error;
  py_object* index_error;
};

// The runtime's library name, its interface as bound, and the two real
// functions that the import patches saved (null when a patch failed).
inline constexpr char runtime_library[] = "dice_py.dll";
extern runtime_api py;
extern init_module_fn real_init_module;
extern import_module_fn real_import_module;

// Finds every function and object of runtime_api in the loaded runtime.
// 0 when all were found; 1 leaves the interface unusable.
int bind_runtime();
bool runtime_bound();

// Reference counting as the runtime does it inline: at zero, the type's
// deallocation function frees the object.
inline void py_incref(py_object* o) { ++o->refcount; }
inline void py_decref(py_object* o) {
  if (--o->refcount == 0) o->type->dealloc(o);
}
inline py_object* py_new_ref(py_object* o) {
  py_incref(o);
  return o;
}

// o's type is `type` or a subtype of it (works on every runtime version).
bool py_instance_of(py_object* o, py_type* type);

}  // namespace script
