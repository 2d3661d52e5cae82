// The embedded interpreter of the native script module tests.
#include "embedded_runtime.h"

#include <cstdlib>
#include <filesystem>
#include <map>

#include "core/service_state.h"
#include "platform/native/test_controls.h"
#include "redirect/address_table.h"
#include "redirect/answer_blocks.h"
#include "script/py_runtime.h"
#include "script/script_hooks.h"
#include "snapshot/snapshot_queue.h"
#include "sockets/player_logins.h"
#include "working_folder.h"

// The pieces of the runtime's C interface that this harness calls or hands to
// the library, declared from its documented binary interface.  A 64-bit build
// exports the registration function under its 64-bit name.
extern "C" {
struct PyObject;
struct PyMethodDef {
  const char* name;
  PyObject* (*function)(PyObject*, PyObject*);
  int flags;
  const char* doc;
};
extern int Py_NoSiteFlag;
extern char _Py_NoneStruct, _Py_TrueStruct, _Py_ZeroStruct, PyModule_Type, PyString_Type;
extern PyObject *PyExc_RuntimeError, *PyExc_ValueError, *PyExc_TypeError, *PyExc_IndexError;
void Py_Initialize();
void PySys_SetPath(char* path);
PyObject* Py_InitModule4_64(const char* name, PyMethodDef* methods, const char* doc, PyObject* self,
                            int api_version);
PyObject* PyImport_ImportModule(const char* name);
PyObject* PyImport_AddModule(const char* name);
PyObject* PyModule_GetDict(PyObject* module);
PyObject* PyRun_StringFlags(const char* text, int start, PyObject* globals, PyObject* locals,
                            void* flags);
PyObject* PyObject_Repr(PyObject* o);
PyObject* PyObject_Str(PyObject* o);
PyObject* PyObject_GetAttrString(PyObject* o, const char* name);
PyObject* PyObject_CallMethod(PyObject* o, char* name, char* format, ...);
int PyType_IsSubtype(void* a, void* b);
char* PyString_AsString(PyObject* o);
PyObject* PyString_FromString(const char* text);
PyObject* PyString_FromStringAndSize(const char* text, long length);
PyObject* PyString_FromFormat(const char* format, ...);
PyObject* PyLong_FromLong(long value);
PyObject* PyInt_FromLong(long value);
int PyArg_ParseTuple(PyObject* args, const char* format, ...);
PyObject* PyErr_Format(PyObject* type, const char* format, ...);
void PyErr_Fetch(PyObject** type, PyObject** value, PyObject** traceback);
void PyErr_NormalizeException(PyObject** type, PyObject** value, PyObject** traceback);
void PyErr_SetString(PyObject* type, const char* text);
void Py_DecRef(PyObject* o);
}

namespace runtime_test {

namespace {
constexpr int file_input = 257, eval_input = 258;

struct answer {
  answer_kind kind = answer_kind::text;
  std::string value;
};
std::map<std::string, answer> answers;
std::vector<std::string> console;

PyObject* give(const answer& a) {
  if (a.kind == answer_kind::integer) return PyInt_FromLong(std::strtol(a.value.c_str(), nullptr, 10));
  if (a.kind == answer_kind::fail) {
    PyErr_SetString(PyExc_RuntimeError, a.value.c_str());
    return nullptr;
  }
  return PyString_FromStringAndSize(a.value.data(), static_cast<long>(a.value.size()));
}

PyObject* mod_directory(PyObject*, PyObject*) {
  auto it = answers.find("mod");
  return give(it == answers.end() ? answer{answer_kind::text, "mods/bf2"} : it->second);
}

PyObject* console_invoke(PyObject*, PyObject* args) {
  const char* command = nullptr;
  if (!PyArg_ParseTuple(args, "s:rcon_invoke", &command)) return nullptr;
  console.emplace_back(command);
  auto it = answers.find(command);
  if (it == answers.end()) it = answers.find("*");
  return give(it == answers.end() ? answer{} : it->second);
}

PyMethodDef host_methods[] = {
    {"sgl_getModDirectory", mod_directory, 4, ""},
    {"rcon_invoke", console_invoke, 1, ""},
    {nullptr, nullptr, 0, nullptr},
};

std::string text_of(PyObject* o) {
  if (!o) return "?";
  std::string out = PyString_AsString(o) ? PyString_AsString(o) : "?";
  Py_DecRef(o);
  return out;
}

std::string exception_answer() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (!type) return "err no-exception";
  PyErr_NormalizeException(&type, &value, &traceback);
  std::string name = text_of(PyObject_GetAttrString(type, "__name__"));
  std::string message = value ? text_of(PyObject_Str(value)) : "";
  Py_DecRef(type);
  if (value) Py_DecRef(value);
  if (traceback) Py_DecRef(traceback);
  return "exc " + name + " " + message;
}

std::string run(const std::string& text, bool expression) {
  PyObject* globals = PyModule_GetDict(PyImport_AddModule("__main__"));
  PyObject* result =
      PyRun_StringFlags(text.c_str(), expression ? eval_input : file_input, globals, globals, nullptr);
  if (!result) return exception_answer();
  std::string out = expression ? "ok " + text_of(PyObject_Repr(result)) : "ok";
  Py_DecRef(result);
  return out;
}

void offer(const char* name, void* address) {
  platform::test::set_module_symbol(script::runtime_library, name, address);
}
}  // namespace

const std::string& runtime_folder() {
  static working_folder folder;
  return folder.path();
}

void start_runtime() {
  static bool started = false;
  if (started) return;
  started = true;
  Py_NoSiteFlag = 1;
  Py_Initialize();
  static std::string path;
  path = runtime_folder() + "/python";
  PySys_SetPath(path.data());
  std::filesystem::create_directories("logs/ostrel");

  if (!core::service) core::service = new core::service_state();
  if (!snapshot::snapshot_lock) snapshot::snapshot_lock = platform::lock_create();
  sockets::player_logins_allocate();
  redirect::address_table_allocate();
  redirect::answer_slot_allocate();

  // What the library finds by name in the loaded runtime.
  offer("PyArg_ParseTuple", reinterpret_cast<void*>(&PyArg_ParseTuple));
  offer("PyErr_Format", reinterpret_cast<void*>(&PyErr_Format));
  offer("PyObject_CallMethod", reinterpret_cast<void*>(&PyObject_CallMethod));
  offer("PyType_IsSubtype", reinterpret_cast<void*>(&PyType_IsSubtype));
  offer("PyString_AsString", reinterpret_cast<void*>(&PyString_AsString));
  offer("PyString_FromString", reinterpret_cast<void*>(&PyString_FromString));
  offer("PyString_FromFormat", reinterpret_cast<void*>(&PyString_FromFormat));
  offer("PyLong_FromLong", reinterpret_cast<void*>(&PyLong_FromLong));
  offer("_Py_NoneStruct", &_Py_NoneStruct);
  offer("_Py_TrueStruct", &_Py_TrueStruct);
  offer("_Py_ZeroStruct", &_Py_ZeroStruct);
  offer("PyModule_Type", &PyModule_Type);
  offer("PyString_Type", &PyString_Type);
  // Exceptions are exported as pointer variables: the symbol is the variable.
  offer("PyExc_RuntimeError", &PyExc_RuntimeError);
  offer("PyExc_ValueError", &PyExc_ValueError);
  offer("PyExc_TypeError", &PyExc_TypeError);
  offer("PyExc_IndexError", &PyExc_IndexError);

  // Where the import patches would have saved the real functions.
  script::real_init_module = reinterpret_cast<script::init_module_fn>(&Py_InitModule4_64);
  script::real_import_module = reinterpret_cast<script::import_module_fn>(&PyImport_ImportModule);
}

bool register_host(const std::string& name) {
  return script::hooked_Py_InitModule4(name.c_str(), reinterpret_cast<script::py_method*>(host_methods),
                                       "The host game's module", nullptr, 1013) != nullptr;
}

std::string import_module(const std::string& name) {
  script::py_object* m = script::hooked_PyImport_ImportModule(name.c_str());
  if (!m) return exception_answer();
  script::py_decref(m);
  return "ok";
}

void set_answer(const std::string& key, answer_kind kind, const std::string& value) {
  answers[key] = {kind, value};
}
void clear_answers() { answers.clear(); }
std::vector<std::string>& console_log() { return console; }

std::string eval(const std::string& expression) { return run(expression, true); }
std::string exec(const std::string& statements) { return run(statements, false); }

}  // namespace runtime_test
