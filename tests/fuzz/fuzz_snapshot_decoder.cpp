// The reference statistics service's snapshot decoder over arbitrary bodies
// and tsdata values: refused or decoded, never a read outside the input.  The
// first 64 bytes are taken as the tsdata text, the rest as the body.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "deploy_values.h"
#include "deployment_keys.h"
#include "service/stats_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const service::stats_keys keys = test_support::deployment_stats_keys();
  const size_t text_size = size < 64 ? size : 64;
  const std::string tsdata(reinterpret_cast<const char*>(data), text_size);
  service::snapshot_seen seen;
  std::string why;
  if (service::decode_snapshot_body(keys, data + text_size, size - text_size, {"", "PROV-fuzz"},
                                    seen, why)) {
    if (seen.data.size() + 64 != size - text_size) std::abort();
    service::decode_tsdata(keys, tsdata, seen, why);
  } else if (why.empty()) {
    std::abort();
  }
  service::session_request_seen request;
  service::decode_session_request(keys, data, size, {"", "PROV-fuzz"}, request);
  return 0;
}
