// One look-up exchange, timed on the monotonic clock like the library's own
// (3 s, a resend each second), with the request fingerprinting the game's
// executable as the game's would.
#include "doctor/doctor_network.h"

#include <cstdio>
#include <cstring>

#include "common/output.h"
#include "core/host_image.h"
#include "core/process_state.h"
#include "deploy_values.h"
#include "doctor/doctor_host.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "redirect/lookup_answer.h"
#include "redirect/lookup_refresh.h"
#include "redirect/lookup_request.h"

namespace doctor {
namespace {

void use_game_fingerprint(const folder_read& read) {
  for (const executable_read& exe : read.executables) {
    if (!is_game_executable(exe)) continue;
    FILE* file = std::fopen(native_path(exe.path).c_str(), "rb");
    if (!file) continue;
    core::compute_host_image_record(file, core::process.host_image_record,
                                    core::process.host_image_tag);
    std::fclose(file);
    return;
  }
}

}  // namespace

finding network_finding(const folder_read& read) {
  const char* topic = "network";
  const std::string host = deploy::lookup_host;
  if (!sockets_start())
    return {level::problem, topic, "the system's sockets do not start", "restart Windows", {}};
  uint32_t addresses[redirect::refresh_max_addresses];
  const int count = platform::resolve_ipv4(deploy::lookup_host, addresses,
                                           redirect::refresh_max_addresses);
  if (count <= 0)
    return {level::problem, topic, "the lookup service's name " + host + " does not resolve",
            "check the internet connection and the DNS server", {}};
  const std::string where = host + " (" + tool::ipv4_text(addresses[0]) + ") UDP " +
                            std::to_string(redirect::lookup_port);
  const platform::socket_handle s = platform::udp_open();
  if (s == platform::invalid_socket)
    return {level::problem, topic, "no UDP socket can be opened", "check the firewall", {}};

  use_game_fingerprint(read);
  redirect::lookup_request request;
  redirect::make_lookup_request(request);
  const uint64_t start = platform::monotonic_ms();
  const uint64_t deadline = start + redirect::refresh_deadline_ms;
  uint64_t next_send = start;
  bool refused = false, unverified = false;
  finding result{level::problem, topic, "", "", {}};
  for (;;) {
    const uint64_t t = platform::monotonic_ms();
    if (t >= deadline) break;
    if (t >= next_send) {
      for (int i = 0; i < count; ++i)
        platform::udp_send_to(s, request.bytes, request.length, addresses[i], redirect::lookup_port);
      next_send = t + redirect::refresh_resend_ms;
    }
    const uint64_t left = deadline - t;
    const int ready = platform::wait_readable(
        s, left < redirect::refresh_wait_ms ? static_cast<uint32_t>(left) : redirect::refresh_wait_ms);
    if (ready < 0) break;
    if (ready == 0) continue;
    uint8_t datagram[redirect::lookup_answer_max_size];
    uint32_t from = 0;
    uint16_t from_port = 0;
    int ipv4 = 0;
    const int length = platform::udp_receive_from(s, datagram, sizeof datagram, &from, &from_port, &ipv4);
    if (length < 0) {
      // A port that nothing listens on answers with an ICMP message, which
      // the system reports on the next receive.
      refused = true;
      continue;
    }
    if (static_cast<size_t>(length) < redirect::lookup_answer_min_size ||
        std::memcmp(datagram, redirect::lookup_magic, redirect::lookup_magic_size) != 0 ||
        datagram[redirect::lan_kind] != redirect::lookup_answer_kind)
      continue;
    uint8_t payload[redirect::lookup_payload_max_size];
    size_t payload_size = 0;
    if (redirect::open_answer_payload(datagram + redirect::lan_body,
                                      static_cast<size_t>(length) - redirect::lan_body, request.id,
                                      request.time, request.tag, payload, &payload_size) != 0) {
      unverified = true;
      continue;
    }
    const uint64_t took = platform::monotonic_ms() - start;
    result = {level::ok, topic,
              "the lookup service " + where + " answered in " + std::to_string(took) + " ms: " +
                  std::to_string(lookup_payload_entries(payload, payload_size)) + " entries, verified",
              "", {}};
    platform::socket_close(s);
    return result;
  }
  platform::socket_close(s);
  if (unverified) {
    result.text = "the lookup service " + where +
                  " answered, but its answer does not verify with this tool's deployment keys";
    result.hint = "this release and the service belong to different deployments: get the "
                  "release the service's operators publish";
  } else if (refused) {
    result.text = "the lookup service " + where + " refused: nothing listens there";
    result.hint = "the service is down: try again later or tell its operators";
  } else {
    result.text = "the lookup service " + where + " did not answer within 3 s";
    result.hint = "check that the firewall lets the game send and receive UDP on port 29960";
  }
  return result;
}

}  // namespace doctor
