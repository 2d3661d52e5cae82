// The service functions of the script module: session flags, check and player
// tokens, host names, document paths and addresses, snapshot submission, log.
#pragma once
#include "script/py_runtime.h"

namespace script {

py_object* gls_get_flags(py_object* self, py_object* args);
py_object* gls_check(py_object* self, py_object* args);
py_object* gls_get_hostname(py_object* self, py_object* args);
py_object* gls_get_document(py_object* self, py_object* args);
py_object* gls_send_snapshot(py_object* self, py_object* args);
py_object* gls_get_auth_info(py_object* self, py_object* args);
py_object* net_address(py_object* self, py_object* args);
py_object* script_log(py_object* self, py_object* args);

}  // namespace script
