// Ranked list refresh: challenge phase, transfer phase, then verify, store and
// install.  Only a success starts the 60 s pause, so a failed attempt is
// retried at the next server-list connection.
#include "ranked/ranked_refresh.h"

#include <cstring>
#include <memory>
#include <new>

#include "base/bytes.h"
#include "core/random.h"
#include "core/registry_readers.h"
#include "deploy_values.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "ranked/ranked_blob.h"
#include "ranked/ranked_file.h"
#include "ranked/ranked_store.h"
#include "ranked/refresh_fragments.h"
#include "ranked/refresh_protocol.h"
#include "redirect/host_entry.h"
#include "redirect/name_hook.h"

namespace ranked {

std::atomic<uint16_t> master_port{master_server_port};
std::atomic<uint32_t> server_browser_mode{0};
std::atomic<uint64_t> last_success_ms{0};

namespace {

constexpr uint16_t list_port = 28910;

struct exchange {
  platform::socket_handle s;
  uint32_t address;
  uint16_t port;
  uint64_t deadline;
  uint64_t last_send = 0;
  uint8_t datagram[fragment_max_size];
};

void send(exchange& x, const uint8_t* data, size_t length, uint64_t now) {
  platform::udp_send_to(x.s, data, length, x.address, x.port);
  x.last_send = now;
}

bool resend_due(const exchange& x, uint64_t now) {
  return x.last_send == 0 || now - x.last_send >= refresh_resend_ms;
}

// Waits up to 500 ms in steps of 250 ms; then one datagram from any sender.
// Its length, or -1 when nothing arrived.
int receive(exchange& x) {
  int ready = 0;
  for (uint32_t waited = 0; waited < refresh_wait_ms && ready == 0; waited += refresh_wait_step_ms)
    ready = platform::wait_readable(x.s, refresh_wait_step_ms);
  if (ready <= 0) return -1;
  uint32_t from = 0;
  uint16_t from_port = 0;
  int ipv4 = 0;
  return platform::udp_receive_from(x.s, x.datagram, sizeof x.datagram, &from, &from_port, &ipv4);
}

// 0 with the challenge, 1 on time-out or a challenge of 0.
int challenge_phase(exchange& x, uint32_t* challenge) {
  for (;;) {
    const uint64_t now = platform::monotonic_ms();
    if (now > x.deadline) return 1;
    if (resend_due(x, now)) send(x, availability_query, sizeof availability_query, now);
    const int n = receive(x);
    if (n < static_cast<int>(challenge_min_size)) continue;
    if (std::memcmp(x.datagram, challenge_magic, sizeof challenge_magic) != 0 ||
        bytes::load_u32le(x.datagram + hmc_zero) != 0)
      continue;
    *challenge = bytes::load_u32le(x.datagram + hmc_challenge);
    return *challenge == 0 ? 1 : 0;
  }
}

// Fragments into blob; the blob's length when every fragment arrived, 0 on
// failure (deadline, error, oversized fragment).
size_t transfer_phase(exchange& x, uint32_t challenge, uint8_t* blob) {
  uint8_t session_bytes[4];
  core::random_bytes(session_bytes, sizeof session_bytes);
  fragment_state state;
  state.session = bytes::load_u32le(session_bytes) | 1u;
  uint8_t request[list_request_size];
  make_list_request(request, state.session, platform::now_seconds(), challenge);
  x.last_send = 0;

  for (;;) {
    const uint64_t now = platform::monotonic_ms();
    if (now > x.deadline) return 0;
    if (state.expected == 0) {
      if (resend_due(x, now)) send(x, request, sizeof request, now);
    } else if (resend_due(x, now) || state.since_ack == fragments_per_acknowledgement) {
      uint8_t ack[acknowledgement_size];
      make_acknowledgement(ack, state.session, state.received);
      send(x, ack, sizeof ack, now);
      state.since_ack = 0;
    }
    const int n = receive(x);
    if (n < 0) continue;
    switch (take_fragment(state, x.datagram, static_cast<size_t>(n), blob)) {
      case fragment_result::ignored:
      case fragment_result::taken:
        continue;
      case fragment_result::failed:
        return 0;
      case fragment_result::complete: {
        uint8_t ack[acknowledgement_size];
        make_acknowledgement(ack, state.session, state.received);
        send(x, ack, sizeof ack, platform::monotonic_ms());
        return state.blob_length;
      }
    }
  }
}

}  // namespace

uint32_t read_browser_mode() {
  uint32_t mode = 0;
  if (core::read_server_browser_mode(&mode) != 0) mode = 0;
  server_browser_mode = mode;
  return mode;
}

int refresh_ranked_list(uint32_t address, uint16_t port) {
  const uint64_t last = last_success_ms.load();
  if (last != 0 && platform::monotonic_ms() - last < refresh_pause_ms) return 0;

  exchange x;
  x.s = platform::udp_open();
  if (x.s == platform::invalid_socket) return 1;
  x.address = address;
  x.port = port;
  x.deadline = platform::monotonic_ms() + refresh_deadline_ms;

  uint32_t challenge = 0;
  std::unique_ptr<uint8_t[]> blob;
  size_t length = 0;
  if (challenge_phase(x, &challenge) == 0) {
    blob.reset(new (std::nothrow) uint8_t[ranked_blob_max_size]());
    if (blob) length = transfer_phase(x, challenge, blob.get());
  }
  platform::socket_close(x.s);
  if (length == 0 || verify_ranked_blob(blob.get(), length) != 0) return 1;
  write_ranked_file(blob.get(), length);
  if (install_ranked_blob(blob.get(), length) != 0) return 1;
  const uint64_t now = platform::monotonic_ms();
  last_success_ms = now == 0 ? 1 : now;
  return 0;
}

void ranked_list_on_connect(const uint8_t* destination) {
  if (read_browser_mode() != 1) return;
  uint32_t address = 0;
  const auto* entry = static_cast<const redirect::host_entry*>(redirect::name_hook(deploy::master_host));
  if (entry && entry->address_length == 4 && entry->addresses && entry->addresses[0]) {
    std::memcpy(&address, entry->addresses[0], 4);
  } else {
    const uint16_t port = static_cast<uint16_t>((destination[2] << 8) | destination[3]);
    if (port != list_port) return;
    std::memcpy(&address, destination + 4, 4);
  }
  refresh_ranked_list(address, master_port.load());
}

}  // namespace ranked
