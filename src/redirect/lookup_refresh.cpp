// Lookup refresh.  The exchange claims its slot with a compare-and-swap on the
// last refresh time, so two threads that pass the interval check together do
// not both run it; only a failed resolution or socket leaves the time as it
// was, so that the next look-up tries again.
#include "redirect/lookup_refresh.h"

#include <cstring>

#include "base/spacing.h"
#include "core/process_state.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "redirect/lookup_answer.h"
#include "redirect/lookup_cache.h"
#include "redirect/lookup_request.h"
#include "deploy_values.h"

namespace redirect {

std::atomic<uint32_t> last_refresh_time{0};

namespace {

bool from_service(uint32_t address, const uint32_t* addresses, int count) {
  for (int i = 0; i < count; ++i)
    if (addresses[i] == address) return true;
  return false;
}

bool looks_like_answer(const uint8_t* datagram, int length) {
  return length >= static_cast<int>(lookup_answer_min_size) &&
         std::memcmp(datagram, lookup_magic, lookup_magic_size) == 0 &&
         datagram[lan_kind] == lookup_answer_kind;
}

// Sends and listens until a valid answer is installed (its length returned)
// or the deadline passes (0).  Everything is timed on the monotonic clock; the
// date only goes into the request.  The deadline itself ends the exchange, and
// no wait runs past it, so sends 1000 ms apart make at most three.
int exchange(platform::socket_handle s, const lookup_request& request, const uint32_t* addresses,
             int address_count, uint8_t* datagram) {
  const uint64_t deadline = platform::monotonic_ms() + refresh_deadline_ms;
  uint64_t next_send = platform::monotonic_ms();
  for (;;) {
    const uint64_t t = platform::monotonic_ms();
    if (t >= deadline) return 0;
    if (t >= next_send) {
      for (int i = 0; i < address_count; ++i)
        platform::udp_send_to(s, request.bytes, request.length, addresses[i], lookup_port);
      next_send = t + refresh_resend_ms;
    }
    const uint64_t left = deadline - t;
    const int ready = platform::wait_readable(
        s, left < refresh_wait_ms ? static_cast<uint32_t>(left) : refresh_wait_ms);
    if (ready < 0) return 0;
    if (ready == 0) continue;
    uint32_t from = 0;
    uint16_t from_port = 0;
    int ipv4 = 0;
    const int length = platform::udp_receive_from(s, datagram, lookup_answer_max_size, &from,
                                                  &from_port, &ipv4);
    if (length < 0 || !ipv4 || !from_service(from, addresses, address_count)) continue;
    if (!looks_like_answer(datagram, length)) continue;
    if (verify_and_install(datagram + lan_body, static_cast<size_t>(length) - lan_body, request.id,
                           request.time, request.tag, true) == 0)
      return length;
  }
}

}  // namespace

int lookup_refresh() {
  const uint64_t now = platform::monotonic_ms();
  const uint32_t interval = core::process.operating_mode == core::mode_server
                                ? server_refresh_interval_ms
                                : client_refresh_interval_ms;
  uint32_t last = last_refresh_time.load();
  if (!spacing::due(last, now, interval)) return 1;

  uint32_t addresses[refresh_max_addresses];
  const int address_count =
      platform::resolve_ipv4(deploy::lookup_host, addresses, refresh_max_addresses);
  if (address_count <= 0) return 1;
  const platform::socket_handle s = platform::udp_open();
  if (s == platform::invalid_socket) return 1;
  if (!last_refresh_time.compare_exchange_strong(last, spacing::stamp(now))) {
    platform::socket_close(s);
    return 1;
  }

  lookup_request request;
  make_lookup_request(request);
  uint8_t datagram[lookup_answer_max_size];
  const int length = exchange(s, request, addresses, address_count, datagram);
  platform::socket_close(s);
  if (length <= 0) return 1;
  if (core::process.operating_mode == core::mode_client)
    write_cache(0, request, datagram, static_cast<size_t>(length));
  return 0;
}

}  // namespace redirect
