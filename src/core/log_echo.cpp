// The log echo's state (socket, destination, the 20-byte header) and the
// building of each "HLD1" datagram.  Everything here but echo_send runs under
// the log lock.
#include "core/log_echo.h"

#include <cstring>

#include "base/bytes.h"
#include "core/log.h"
#include "platform/platform.h"

namespace core {
namespace {

constexpr uint8_t magic[4] = {'H', 'L', 'D', '1'};

platform::socket_handle echo_socket = platform::invalid_socket;
uint32_t destination = 0;  // network order; 0 until a set-up names one
uint8_t header[echo_header_size] = {};

}  // namespace

bool echo_prepare(uint32_t now, const char* text, int text_length, echo_datagram& out) {
  if (echo_socket == platform::invalid_socket) {
    echo_socket = platform::udp_open();
    if (echo_socket == platform::invalid_socket) return false;
  }
  if (bytes::load_u16le(header + echo_setup_value) == 0 || destination == 0) return false;
  if (text_length <= 0) return false;  // empty, or cut to fit

  size_t length = static_cast<size_t>(text_length);
  bytes::store_u16le(header + echo_sequence,
                     static_cast<uint16_t>(bytes::load_u16le(header + echo_sequence) + 1));
  bytes::store_u32le(header + echo_send_time, now);
  std::memcpy(out.bytes, header, echo_header_size);
  std::memcpy(out.bytes + echo_header_size, text, length);
  out.length = echo_header_size + length;
  out.socket = echo_socket;
  out.address = destination;
  return true;
}

void echo_send(const echo_datagram& datagram) {
  if (platform::udp_send_to(datagram.socket, datagram.bytes, datagram.length, datagram.address,
                            log_echo_port) >= 0 ||
      !platform::socket_handle_lost())
    return;
  // The host shut the socket library down under us: the next line gets a
  // socket of its own, unless another thread has made one already.
  log_lock_hold();
  if (echo_socket == datagram.socket) echo_socket = platform::invalid_socket;
  log_lock_release();
}

void echo_reset() {
  std::memset(header, 0, sizeof header);
  destination = 0;
}

int log_echo_setup(uint16_t value, uint32_t address) {
  uint32_t now = platform::now_seconds();
  log_lock_hold();
  std::memset(header, 0, sizeof header);
  std::memcpy(header + echo_magic, magic, sizeof magic);
  bytes::store_u16le(header + echo_setup_value, value);
  bytes::store_u32le(header + echo_setup_time, now);
  bytes::store_u32le(header + echo_pid, platform::process_id() & 0xFFFFu);
  if (address != 0) destination = address;
  log_lock_release();
  return 0;
}

}  // namespace core
