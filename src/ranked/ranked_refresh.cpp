// Ranked list refresh: challenge phase, transfer phase, then verify, store and
// install.  Only a success starts the 60 s pause, so a failed attempt is
// retried at the next server-list connection.
#include "ranked/ranked_refresh.h"

#include <cstring>
#include <memory>
#include <new>

#include "base/bytes.h"
#include "core/log.h"
#include "core/random.h"
#include "core/registry_readers.h"
#include "deploy_values.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "ranked/ranked_blob.h"
#include "ranked/ranked_file.h"
#include "ranked/ranked_store.h"
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

bool for_session(const uint8_t* d, const uint8_t* magic, uint32_t session) {
  return std::memcmp(d, magic, 4) == 0 && bytes::load_u32le(d + 4) == session;
}

// Fragments into blob; the blob's length when every fragment arrived, 0 on
// failure (deadline, error, oversized fragment).
size_t transfer_phase(exchange& x, uint32_t challenge, uint8_t* blob) {
  uint8_t session_bytes[4];
  core::random_bytes(session_bytes, sizeof session_bytes);
  const uint32_t session = bytes::load_u32le(session_bytes) | 1u;
  uint8_t request[list_request_size];
  make_list_request(request, session, platform::now_seconds(), challenge);
  uint32_t expected = 0, received = 0;
  int since_ack = 0;
  size_t blob_length = 0;
  x.last_send = 0;

  for (;;) {
    const uint64_t now = platform::monotonic_ms();
    if (now > x.deadline) return 0;
    if (received == 0 && expected == 0) {
      if (resend_due(x, now)) send(x, request, sizeof request, now);
    } else if (resend_due(x, now) || since_ack == fragments_per_acknowledgement) {
      uint8_t ack[acknowledgement_size];
      make_acknowledgement(ack, session, received);
      send(x, ack, sizeof ack, now);
      since_ack = 0;
    }
    const int n = receive(x);
    if (n < static_cast<int>(error_min_size)) continue;
    if (for_session(x.datagram, error_magic, session)) return 0;
    if (!for_session(x.datagram, fragment_magic, session) || n < static_cast<int>(hmr_payload))
      continue;
    const unsigned count = x.datagram[hmr_count];
    if (count < 1 || count > fragment_max_count) continue;
    if (expected == 0) expected = (1u << count) - 1u;
    const unsigned index = x.datagram[hmr_index];
    const uint32_t bit = 1u << (index % 32);
    if (received & bit) continue;
    const size_t offset = bytes::load_u16le(x.datagram + hmr_offset);
    const size_t payload = static_cast<size_t>(n) - hmr_payload;
    if (offset + payload > ranked_blob_max_size) {
      core::log_printf("HRQ1: buffer too small: %d %d %d %d\r\n", static_cast<int>(offset), n,
                       static_cast<int>(hmr_payload), static_cast<int>(ranked_blob_max_size));
      return 0;
    }
    std::memcpy(blob + offset, x.datagram + hmr_payload, payload);
    if (count == index + 1) blob_length = offset + payload;
    ++since_ack;
    received = (received | bit) & expected;
    if (received == expected) {
      uint8_t ack[acknowledgement_size];
      make_acknowledgement(ack, session, received);
      send(x, ack, sizeof ack, platform::monotonic_ms());
      return blob_length;
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
