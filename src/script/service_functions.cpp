// The service functions.  Each parses its arguments before touching any state,
// works in fixed local buffers and hands back a new reference or an error.
#include "script/service_functions.h"

#include "base/bytes.h"
#include "base/hidden_text.h"
#include "core/log.h"
#include "core/random.h"
#include "core/service_state.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "script/module_frame.h"
#include "script/tokens.h"

namespace script {

namespace {
const core::service_state empty_state{};

// Before start-up has allocated the block (never in server mode), the
// functions work with zeros like before gpaInit.
const core::service_state& state() { return core::service ? *core::service : empty_state; }

server_identity identity_of(const core::service_state& s) {
  return {s.game_port, s.query_port, s.server_address, s.interface_address, s.provider_id};
}

py_object* invalid_index(py_object* type, int index) {
  return py.error_format(type, "Invalid index: %d", index);
}
}  // namespace

py_object* gls_get_flags(py_object*, py_object*) {
  return py.long_from(static_cast<long>(static_cast<int32_t>(state().session_flags)));
}

py_object* gls_check(py_object*, py_object* args) {
  const char* data = nullptr;
  int length = 0;
  if (!py.parse_tuple(args, "s#", &data, &length)) return nullptr;
  const int32_t now = static_cast<int32_t>(platform::now_seconds());
  uint8_t r[16];
  core::random_bytes(r, sizeof r);
  char token[check_token_size];
  make_check_token(r, identity_of(state()), reinterpret_cast<const uint8_t*>(data),
                   length > 0 ? static_cast<size_t>(length) : 0, now, token);
  return py.string_from(token);
}


py_object* gls_get_document(py_object*, py_object* args) {
  int index = 0;
  if (!py.parse_tuple(args, "i", &index)) return nullptr;
  if (index < 1 || index > 3) return invalid_index(py.index_error, index);
  return py.string_from("/ASP/getrankstatus.aspx");
}


py_object* script_log(py_object*, py_object* args) {
  const char* line = nullptr;
  if (!py.parse_tuple(args, "s", &line)) return nullptr;
  // The script's text is an argument, never a format: "%s" in it stays "%s".
  core::log_printf("PY: %s\r\n", line);
  return py_new_ref(py.none);
}

}  // namespace script
