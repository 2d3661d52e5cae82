// The session reply check, two ways.  Arbitrary datagrams for a fixed request
// (R, identity, provider ID): whatever arrives, the check reads only its 56
// bytes and leaves the datagram as it was.  Then a reply the reference
// responder signs for a request taken from the input: it is accepted with the
// flags and time it carries, and with any one byte changed it is refused.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "deploy_values.h"
#include "deployment_keys.h"
#include "lookup_signing.h"
#include "service/stats_messages.h"
#include "snapshot/session_messages.h"

namespace {

using fuzz_support::check;

void any_datagram(const uint8_t* data, size_t size) {
  static const uint8_t r[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  static const snapshot::session_identity id{0x0700A8C0, 0x0302010A, 16567, 29900};
  const std::vector<uint8_t> copy(data, data + size);
  uint32_t flags = 0, service_time = 0;
  const int result = snapshot::check_session_reply(copy.data(), copy.size(), r, id, "PROV-fuzz",
                                                   &flags, &service_time);
  check(result == 0 || result == 1);
  check(result != 0 || size == snapshot::session_datagram_size);
  check(size == 0 || std::memcmp(copy.data(), data, size) == 0);
}

void signed_reply(const uint8_t* data, size_t size) {
  // R, addresses, ports, flags, time, the byte to change and how: 33 bytes;
  // the provider ID is what follows, up to its first NUL.
  uint8_t head[33] = {};
  std::memcpy(head, data, size < sizeof head ? size : sizeof head);
  const std::string provider =
      size > sizeof head ? std::string(reinterpret_cast<const char*>(data + sizeof head),
                                       size - sizeof head)
                               .c_str()
                         : "";
  service::session_request_seen request;
  request.provider_id = provider;
  std::memcpy(request.r, head, 8);
  request.interface_address = bytes::load_u32le(head + 8);
  request.server_address = bytes::load_u32le(head + 12);
  request.game_port = bytes::load_u16le(head + 16);
  request.query_port = bytes::load_u16le(head + 18);
  service::session_reply_options options;
  options.session_flags = bytes::load_u32le(head + 20);
  options.service_time = bytes::load_u32le(head + 24);
  const snapshot::session_identity id{request.interface_address, request.server_address,
                                      request.game_port, request.query_port};

  const service::stats_keys keys = test_support::deployment_stats_keys();
  std::vector<uint8_t> reply = service::build_session_reply(keys, request, options);
  check(reply.size() == snapshot::session_datagram_size);

  uint32_t flags = 0, service_time = 0;
  check(snapshot::check_session_reply(reply.data(), reply.size(), request.r, id,
                                      provider.c_str(), &flags, &service_time) == 0);
  check(flags == options.session_flags && service_time == options.service_time);

  reply[head[28] % reply.size()] ^= static_cast<uint8_t>(head[29] | 1);
  check(snapshot::check_session_reply(reply.data(), reply.size(), request.r, id,
                                      provider.c_str(), &flags, &service_time) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  any_datagram(data, size);
  signed_reply(data, size);
  return 0;
}
