// The server authorization handshake as script functions: gpaInit reads the
// server's identity from the host game, gpaGetString starts a challenge,
// gpaProcessResponse applies the statistics service's genuine grant.
#pragma once
#include "script/py_runtime.h"

namespace script {

py_object* gpa_init(py_object* self, py_object* args);
py_object* gpa_get_string(py_object* self, py_object* args);
py_object* gpa_process_response(py_object* self, py_object* args);

}  // namespace script
