// Binding the runtime's interface by name in the loaded runtime.
#include "script/py_runtime.h"

#include "platform/platform.h"

namespace script {

runtime_api py{};
init_module_fn real_init_module = nullptr;
import_module_fn real_import_module = nullptr;

namespace {
bool bound = false;

template <typename T>
bool find(T& out, const char* name) {
  out = reinterpret_cast<T>(platform::loaded_module_symbol(runtime_library, name));
  return out != nullptr;
}

// An exported exception is a pointer variable: the symbol is its address.
bool find_exception(py_object*& out, const char* name) {
  py_object** variable = nullptr;
  if (!find(variable, name) || !*variable) return false;
  out = *variable;
  return true;
}
}  // namespace

int bind_runtime() {
  runtime_api api{};
  bool ok = find(api.parse_tuple, "PyArg_ParseTuple");
  ok = find(api.error_format, "PyErr_Format") && ok;
  ok = find(api.call_method, "PyObject_CallMethod") && ok;
  ok = find(api.is_subtype, "PyType_IsSubtype") && ok;
  ok = find(api.string_chars, "PyString_AsString") && ok;
  ok = find(api.string_from, "PyString_FromString") && ok;
  ok = find(api.string_from_format, "PyString_FromFormat") && ok;
  ok = find(api.long_from, "PyLong_FromLong") && ok;
  ok = find(api.none, "_Py_NoneStruct") && ok;
  ok = find(api.true_object, "_Py_TrueStruct") && ok;
  ok = find(api.false_object, "_Py_ZeroStruct") && ok;
  ok = find(api.module_type, "PyModule_Type") && ok;
  ok = find(api.string_type, "PyString_Type") && ok;
  ok = find_exception(api.runtime_error, "PyExc_RuntimeError") && ok;
  ok = find_exception(api.value_error, "PyExc_ValueError") && ok;
  ok = find_exception(api.type_error, "PyExc_TypeError") && ok;
  ok = find_exception(api.index_error, "PyExc_IndexError") && ok;
  if (!ok) return 1;
  py = api;
  bound = true;
  return 0;
}

bool runtime_bound() { return bound; }

bool py_instance_of(py_object* o, py_type* type) {
  return o->type == type || py.is_subtype(o->type, type) != 0;
}

}  // namespace script
