// The service functions.  Each parses its arguments before touching any state,
// works in fixed local buffers and hands back a new reference or an error.
#include "script/service_functions.h"

#include <atomic>

#include "base/bytes.h"
#include "base/hidden_text.h"
#include "core/log.h"
#include "core/random.h"
#include "core/service_state.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "script/module_frame.h"
#include "script/service_hosts.h"
#include "script/tokens.h"
#include "snapshot/snapshot_body.h"
#include "snapshot/queue_folder.h"
#include "snapshot/snapshot_queue.h"
#include "sockets/player_logins.h"

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

// The worker's session exchange stores the flags at any moment: one word, read whole.
py_object* gls_get_flags(py_object*, py_object*) {
  const uint32_t flags =
      core::service
          ? std::atomic_ref<uint32_t>(core::service->session_flags).load(std::memory_order_relaxed)
          : 0;
  return py.long_from(static_cast<long>(static_cast<int32_t>(flags)));
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

py_object* gls_get_hostname(py_object*, py_object* args) {
  int index = 0;
  if (!py.parse_tuple(args, "i", &index)) return nullptr;
  if (!valid_host_index(index)) return invalid_index(py.index_error, index);
  char name[service_host_name_size];
  compose_host_name(index, name);
  py_object* result = py.string_from(name);
  text::wipe(name, sizeof name);
  return result;
}

py_object* gls_get_document(py_object*, py_object* args) {
  int index = 0;
  if (!py.parse_tuple(args, "i", &index)) return nullptr;
  if (!valid_host_index(index)) return invalid_index(py.index_error, index);
  return py.string_from("/ASP/getrankstatus.aspx");
}

py_object* net_address(py_object*, py_object* args) {
  int index = 0;
  if (!py.parse_tuple(args, "i", &index)) return nullptr;
  if (!valid_host_index(index)) return invalid_index(py.value_error, index);
  const uint32_t address = service_host_address(index);
  if (address == 0)
    return py.error_format(py.runtime_error, "Hostname for index %d does not exist", index);
  uint8_t b[4];
  bytes::store_u32le(b, address);
  return py.string_from_format("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
}

py_object* gls_send_snapshot(py_object*, py_object* args) {
  const char* data = nullptr;
  int length = 0;
  if (!py.parse_tuple(args, "s#", &data, &length)) return nullptr;
  core::log_printf("SNAPSHOT: %d bytes submitted\r\n", length);
  snapshot::snapshot_record record;
  record.header_reserve = snapshot::header_reserve_size;
  record.sequence = snapshot::next_sequence();
  const core::service_state& s = state();
  if (snapshot::build_snapshot(record, reinterpret_cast<const uint8_t*>(data),
                               length > 0 ? static_cast<size_t>(length) : 0, s.interface_address,
                               s.server_address, s.game_port, s.query_port) != 0) {
    core::log_printf("SNAPSHOT: could not prepare request\r\n");
    return raise_fatal(py.runtime_error, 3);
  }
  // The script is told True either way; a record the queue refuses is logged
  // and released rather than lost without a trace.
  snapshot::keep_snapshot(record);
  if (snapshot::enqueue(&record) != 0) snapshot::discard_snapshot(record, "queue full");
  return py_new_ref(py.true_object);
}

py_object* gls_get_auth_info(py_object*, py_object* args) {
  int slot = 0;
  const char* address_text = nullptr;
  unsigned long profile = 0;
  if (!py.parse_tuple(args, "isk", &slot, &address_text, &profile)) return nullptr;
  const uint32_t profile_id = static_cast<uint32_t>(profile);
  const uint32_t address = platform::ipv4_from_text(address_text);
  uint8_t name[32], proof[32];
  size_t name_length = 30, proof_length = 30;
  if (sockets::login_record_read(profile_id, address, static_cast<uint32_t>(slot) & 0xFFFFu, name,
                                 proof, &name_length, &proof_length) != 0)
    return py.string_from("");
  char token[player_token_size];
  make_player_token(proof, proof_length, profile_id, name, name_length, token);
  return py.string_from(token);
}

py_object* script_log(py_object*, py_object* args) {
  const char* line = nullptr;
  if (!py.parse_tuple(args, "s", &line)) return nullptr;
  // The script's text is an argument, never a format: "%s" in it stays "%s".
  core::log_printf("PY: %s\r\n", line);
  return py_new_ref(py.none);
}

}  // namespace script
