// hostsim's server copy embeds the real Python 2 runtime (dice_py.dll) as the
// game's dedicated server does.  Py_InitModule4 and PyImport_ImportModule are
// called through this executable's import table, so ostrel.dll's patching
// meets them exactly as it meets the game.  Commands:
//   py_start                    starts the runtime; "import" looks in python/
//   host_register [NAME [API]]  registers the "host" module (or NAME) with the
//                               two methods below
//   host_answer KEY KIND [VAL]  what a method answers: KEY is "mod" for
//                               sgl_getModDirectory or a console text for
//                               rcon_invoke ("*" for any other); KIND is text
//                               (the rest of the line), hex (bytes), int or
//                               fail (RuntimeError with the rest of the line)
//   host_commands               every text rcon_invoke was given, in hex
//   host_commands_clear
//   import NAME                 PyImport_ImportModule through the import table
//   py EXPR                     evaluates EXPR in __main__: "ok <repr>"
//   pyx STATEMENT               executes one line in __main__: "ok"
// A raised exception answers "exc <type name> <text>".
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "commands.h"
#include "hex.h"

// The few pieces of the runtime's C interface this program uses, declared here
// from the runtime's documented binary interface (no runtime headers needed).
extern "C" {
struct PyObject;
using py_function = PyObject* (*)(PyObject*, PyObject*);
struct PyMethodDef {
  const char* name;
  py_function function;
  int flags;
  const char* doc;
};
__declspec(dllimport) extern int Py_NoSiteFlag;
__declspec(dllimport) extern PyObject* PyExc_RuntimeError;
void Py_Initialize();
void PySys_SetPath(char* path);
PyObject* Py_InitModule4(const char* name, PyMethodDef* methods, const char* doc, PyObject* self,
                         int api_version);
PyObject* PyImport_ImportModule(const char* name);
PyObject* PyImport_AddModule(const char* name);
PyObject* PyModule_GetDict(PyObject* module);
PyObject* PyRun_StringFlags(const char* text, int start, PyObject* globals, PyObject* locals,
                            void* flags);
PyObject* PyObject_Repr(PyObject* o);
PyObject* PyObject_Str(PyObject* o);
PyObject* PyObject_GetAttrString(PyObject* o, const char* name);
char* PyString_AsString(PyObject* o);
int PyString_AsStringAndSize(PyObject* o, char** buffer, int* length);
PyObject* PyString_FromStringAndSize(const char* text, int length);
PyObject* PyInt_FromLong(long value);
int PyArg_ParseTuple(PyObject* args, const char* format, ...);
PyObject* PyErr_Occurred();
void PyErr_Fetch(PyObject** type, PyObject** value, PyObject** traceback);
void PyErr_NormalizeException(PyObject** type, PyObject** value, PyObject** traceback);
void PyErr_SetString(PyObject* type, const char* text);
void Py_IncRef(PyObject* o);
void Py_DecRef(PyObject* o);
}

namespace {

constexpr int meth_varargs = 1, meth_noargs = 4;
constexpr int file_input = 257, eval_input = 258;

struct host_answer {
  enum kind_t { text, integer, fail } kind = text;
  std::string value;
};

std::map<std::string, host_answer> answers;
std::vector<std::string> console_log;
bool started = false;

PyObject* give(const host_answer& a) {
  if (a.kind == host_answer::integer) return PyInt_FromLong(std::strtol(a.value.c_str(), nullptr, 10));
  if (a.kind == host_answer::fail) {
    PyErr_SetString(PyExc_RuntimeError, a.value.c_str());
    return nullptr;
  }
  return PyString_FromStringAndSize(a.value.data(), static_cast<int>(a.value.size()));
}

PyObject* mod_directory(PyObject*, PyObject*) {
  auto it = answers.find("mod");
  return give(it == answers.end() ? host_answer{host_answer::text, "mods/bf2"} : it->second);
}

PyObject* console_invoke(PyObject*, PyObject* args) {
  const char* command = nullptr;
  if (!PyArg_ParseTuple(args, "s:rcon_invoke", &command)) return nullptr;
  console_log.emplace_back(command);
  auto it = answers.find(command);
  if (it == answers.end()) it = answers.find("*");
  return give(it == answers.end() ? host_answer{} : it->second);
}

PyMethodDef host_methods[] = {
    {"sgl_getModDirectory", mod_directory, meth_noargs, ""},
    {"rcon_invoke", console_invoke, meth_varargs, ""},
    {nullptr, nullptr, 0, nullptr},
};

std::string text_of(PyObject* o) {
  if (!o) return "?";
  char* chars = nullptr;
  int length = 0;
  std::string out = PyString_AsStringAndSize(o, &chars, &length) == 0 ? std::string(chars, length) : "?";
  Py_DecRef(o);
  return out;
}

// The pending exception as "exc <type> <text>", cleared.
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

std::string rest_of(std::istringstream& in) {
  std::string rest;
  std::getline(in, rest);
  if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
  return rest;
}

std::string run_python(const std::string& line, bool expression) {
  if (!started) return "err not-started";
  PyObject* globals = PyModule_GetDict(PyImport_AddModule("__main__"));
  PyObject* result =
      PyRun_StringFlags(line.c_str(), expression ? eval_input : file_input, globals, globals, nullptr);
  if (!result) return exception_answer();
  std::string out = expression ? "ok " + text_of(PyObject_Repr(result)) : "ok";
  Py_DecRef(result);
  return out;
}

std::string set_answer(std::istringstream& in) {
  std::string key, kind;
  in >> key >> kind;
  host_answer a;
  if (kind == "text") {
    a.value = rest_of(in);
  } else if (kind == "hex") {
    std::string digits;
    in >> digits;
    std::vector<unsigned char> bytes;
    if (!hex_decode(digits, bytes)) return "err bad-hex";
    a.value.assign(bytes.begin(), bytes.end());
  } else if (kind == "int") {
    a.kind = host_answer::integer;
    in >> a.value;
  } else if (kind == "fail") {
    a.kind = host_answer::fail;
    a.value = rest_of(in);
  } else {
    return "err bad-kind";
  }
  answers[key] = a;
  return "ok";
}

}  // namespace

bool run_script_command(const std::string& cmd, std::istringstream& in, std::string& answer) {
  if (cmd == "py_start") {
    if (!started) {
      Py_NoSiteFlag = 1;
      Py_Initialize();
      static char path[] = "python";
      PySys_SetPath(path);
      started = true;
    }
    answer = "ok";
  } else if (cmd == "host_register") {
    std::string name = "host";
    int api = 1013;
    in >> name >> api;
    if (!started) {
      answer = "err not-started";
      return true;
    }
    PyObject* m = Py_InitModule4(name.c_str(), host_methods, "The host game's module", nullptr, api);
    answer = m ? "ok" : exception_answer();
  } else if (cmd == "host_answer") {
    answer = set_answer(in);
  } else if (cmd == "host_commands") {
    answer = "ok";
    for (const std::string& c : console_log)
      answer += " " + (c.empty() ? std::string("-") : hex_encode(reinterpret_cast<const unsigned char*>(c.data()), c.size()));
  } else if (cmd == "host_commands_clear") {
    console_log.clear();
    answer = "ok";
  } else if (cmd == "import") {
    std::string name;
    in >> name;
    if (!started) {
      answer = "err not-started";
      return true;
    }
    PyObject* m = PyImport_ImportModule(name.c_str());
    if (m) Py_DecRef(m);
    answer = m ? "ok" : exception_answer();
  } else if (cmd == "py" || cmd == "pyx") {
    answer = run_python(rest_of(in), cmd == "py");
  } else {
    return false;
  }
  return true;
}
