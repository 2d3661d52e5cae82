// gpaInit, gpaGetString, gpaProcessResponse over the script service state block.
#include "script/handshake.h"

#include <atomic>

#include "base/text.h"
#include "core/log.h"
#include "core/random.h"
#include "core/service_state.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "script/challenge.h"
#include "script/module_frame.h"
#include "script/service_hosts.h"
#include "script/tokens.h"
#include "snapshot/provider_id.h"
#include "sockets/traffic_state.h"

namespace script {

namespace {
challenge_state current_challenge(const core::service_state& s) {
  challenge_state c{};
  c.server = {s.game_port, s.query_port, s.server_address, s.interface_address, s.provider_id};
  for (size_t i = 0; i < sizeof c.nonce; ++i) c.nonce[i] = s.challenge_nonce[i];
  c.time_text = s.challenge_time_text;
  c.mod_directory = s.mod_directory;
  return c;
}

void executable_digest(uint8_t out[16]) {
  char path[260];
  FILE* file = nullptr;
  if (platform::executable_path(path, sizeof path) == 0) file = platform::open_file(path, "rb");
  file_digest(file, out);
  if (file) std::fclose(file);
}
}  // namespace

py_object* gpa_init(py_object*, py_object*) {
  if (!host_module_ready() || !core::service) return raise_fatal(py.runtime_error, 1);
  core::service_state& s = *core::service;
  if (copy_string_result(s.mod_directory, sizeof s.mod_directory, host_mod_directory()) != 0)
    return nullptr;
  char address[host_setting_size], interface_text[host_setting_size], port_text[host_setting_size];
  if (read_host_setting(address, "sv.serverIP") != 0 ||
      read_host_setting(interface_text, "sv.interfaceIP") != 0 ||
      read_host_setting(port_text, "sv.serverPort") != 0)
    return nullptr;
  const uint32_t game_port = port_from_text(port_text);
  if (read_host_setting(port_text, "sv.gameSpyPort") != 0) return nullptr;
  const uint32_t query_port = port_from_text(port_text);
  if (game_port - 1 > 65534u || query_port - 1 > 65534u) return raise_fatal(py.value_error, 2);

  cut_after_first_token(address);
  cut_after_first_token(interface_text);
  s.game_port = game_port;
  s.query_port = query_port;
  sockets::publish_game_port(game_port);
  s.server_address = platform::ipv4_from_text(address);
  s.interface_address = platform::ipv4_from_text(interface_text);
  // The worker starts its session exchange once it sees the start time, so the
  // provider ID it signs with and the identity above are in place first, and
  // published with the start time (the worker reads it with acquire).
  snapshot::load_provider_id(s.provider_id);
  std::atomic_ref<uint32_t>(s.start_time).store(platform::now_seconds(), std::memory_order_release);

  core::log_echo_setup(static_cast<uint16_t>(query_port), service_host_address(3));
  return py_new_ref(py.true_object);
}

py_object* gpa_get_string(py_object*, py_object*) {
  if (!host_module_ready() || !core::service) return py.string_from("");
  core::service_state& s = *core::service;
  py_object* answer = host_mod_directory();
  if (!answer) return nullptr;
  if (!py_instance_of(answer, py.string_type)) {
    py_decref(answer);
    return py.string_from("");
  }
  const uint32_t t = platform::now_seconds();
  text::format_bounded(s.challenge_time_text, sizeof s.challenge_time_text, "%lu",
                       static_cast<unsigned long>(t));
  text::copy_bounded(s.mod_directory, sizeof s.mod_directory, py.string_chars(answer));
  py_decref(answer);
  core::random_bytes(s.challenge_nonce, sizeof s.challenge_nonce);

  uint8_t digest_of_file[16];
  executable_digest(digest_of_file);
  challenge_state c = current_challenge(s);
  c.time = t;
  char out[challenge_length + 1];
  compose_challenge(c, digest_of_file, out);
  return py.string_from(out);
}

py_object* gpa_process_response(py_object*, py_object* args) {
  const char* response = nullptr;
  int length = 0;
  if (!py.parse_tuple(args, "s#", &response, &length)) return nullptr;
  if (!host_module_ready() || !core::service || length < 0)
    return py_new_ref(py.false_object);
  grant g;
  if (check_response(current_challenge(*core::service), reinterpret_cast<const uint8_t*>(response),
                     static_cast<size_t>(length), &g) != 0)
    return py_new_ref(py.false_object);
  py_object* reply = host_console(g.command);
  if (!reply) return nullptr;
  py_decref(reply);
  // The worker's session exchange reads and writes the same word.
  std::atomic_ref<uint32_t>(core::service->session_flags).store(g.flags, std::memory_order_relaxed);
  return py_new_ref(py.true_object);
}

}  // namespace script
