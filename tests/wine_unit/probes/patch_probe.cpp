// A module that calls the script runtime through its import table, as the
// host game's executable does: the import patching tests rewrite its slots.
extern "C" {
struct PyObject;
PyObject* Py_InitModule4(const char* name, void* methods, const char* doc, PyObject* self,
                         int api_version);
PyObject* PyImport_ImportModule(const char* name);

__declspec(dllexport) PyObject* probe_init_module(const char* name) {
  return Py_InitModule4(name, nullptr, nullptr, nullptr, 1013);
}
__declspec(dllexport) PyObject* probe_import(const char* name) { return PyImport_ImportModule(name); }
}
