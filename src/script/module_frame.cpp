// The module frame: the method table in its fixed order and the shared routines
// over the host game's module.
#include "script/module_frame.h"

#include "base/hidden_text.h"
#include "base/text.h"
#include "script/handshake.h"
#include "script/script_hooks.h"
#include "script/service_functions.h"

namespace script {

namespace {
// The host module's method names are composed only for the call.
constexpr text::hidden_text mod_directory_method{"sgl_getModDirectory"};
constexpr text::hidden_text console_method{"rcon_invoke"};

py_method methods[] = {
    {"gpaInit", gpa_init, py_no_arguments, ""},
    {"gpaGetString", gpa_get_string, py_no_arguments, ""},
    {"gpaProcessResponse", gpa_process_response, py_positional, ""},
    {"glsGetFlags", gls_get_flags, py_no_arguments, ""},
    {"glsCheck", gls_check, py_positional, ""},
    {"glsGetHostname", gls_get_hostname, py_positional, ""},
    {"glsGetDocument", gls_get_document, py_positional, ""},
    {"glsSendSnapshot", gls_send_snapshot, py_positional, ""},
    {"glsGetAuthInfo", gls_get_auth_info, py_positional, ""},
    {"netaddr", net_address, py_positional, ""},
    {"log", script_log, py_positional, ""},
    {nullptr, nullptr, 0, nullptr},
};
}  // namespace

py_method* module_methods() { return methods; }

bool host_module_ready() {
  return host_module && py_instance_of(host_module, py.module_type);
}

py_object* raise_fatal(py_object* type, int code) {
  return py.error_format(type, "fatal error (%d)", code);
}

int copy_string_result(char* field, size_t size, py_object* result) {
  if (!result) return 1;
  if (!py_instance_of(result, py.string_type)) {
    raise_fatal(py.type_error, 4);
    py_decref(result);
    return 1;
  }
  text::copy_bounded(field, size, py.string_chars(result));
  py_decref(result);
  return 0;
}

py_object* host_mod_directory() {
  char name[mod_directory_method.size];
  mod_directory_method.reveal(name);
  py_object* result = py.call_method(host_module, name, nullptr);
  text::wipe(name, sizeof name);
  return result;
}

py_object* host_console(const char* command) {
  char name[console_method.size];
  console_method.reveal(name);
  py_object* result = py.call_method(host_module, name, "s", command);
  text::wipe(name, sizeof name);
  return result;
}

int read_host_setting(char* field, const char* name) {
  py_object* result = host_console(name);
  if (!result) return 1;
  return copy_string_result(field, host_setting_size, result);
}

}  // namespace script
