// A real Python 2.7 interpreter (the runtime's own sources, built natively)
// embedded in the native test process, with a "host" module whose answers the
// tests set, and the library's hooks standing where the import patches put
// them in a dedicated server.  Script lines run in __main__ and answer as
// hostsim's server copy does: "ok <repr>", "ok", or "exc <type> <text>".
#pragma once
#include <string>
#include <vector>

namespace runtime_test {

// Starts the interpreter once per process (it is never finalised) in a
// private working folder that stays the process's working folder, with import
// looking in its python/ folder; binds the library to it and gives the library
// a dedicated server's state (service block, snapshot lock, login and address
// tables).
void start_runtime();
const std::string& runtime_folder();

// Registers a module through the library's registration hook ("host" brings
// the library's module); true when the registration gave a module.
bool register_host(const std::string& name = "host");
// Imports through the library's import hook: "ok" or "exc <type> <text>".
std::string import_module(const std::string& name);

// What the host module answers: key "mod" for sgl_getModDirectory, a console
// text for rcon_invoke, "*" for any other console text.
enum class answer_kind { text, integer, fail };
void set_answer(const std::string& key, answer_kind kind, const std::string& value);
void clear_answers();
// Every text rcon_invoke was given, in order.
std::vector<std::string>& console_log();

std::string eval(const std::string& expression);  // "ok <repr>" or "exc ..."
std::string exec(const std::string& statements);  // "ok" or "exc ..."

}  // namespace runtime_test
