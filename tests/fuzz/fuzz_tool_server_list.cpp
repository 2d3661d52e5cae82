// Arbitrary text as the list of servers an operator hands ranked sign: it is
// refused with one line, or every server it lists comes out of the library's
// table once the list is sealed, with its address, port and flags, none lost
// or changed by the record format.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "deploy_values.h"
#include "lookup_signing.h"
#include "operator/server_list.h"
#include "ranked/ranked_blob.h"
#include "service/ranked_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using fuzz_support::check;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<service::ranked_server> servers;
  std::string error;
  const uint16_t default_port = 16567;
  if (!tool::parse_server_list(text, default_port, servers, error)) {
    check(!error.empty() && error.find('\n') == std::string::npos);
    return 0;
  }
  check(servers.size() <= ranked::ranked_max_entries);
  static const service::ranked_keys keys = service::make_ranked_keys(
      deploy::ranked_key_chain, deploy::ranked_mac_chain, deploy::ranked_feedback);
  const uint8_t nonce[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  std::vector<uint8_t> blob =
      service::seal_ranked_blob(keys, nonce, service::ranked_body(9, default_port, servers));
  if (blob.size() > ranked::ranked_blob_max_size) return 0;  // ranked sign refuses it
  check(ranked::verify_ranked_blob(blob.data(), blob.size()) == 0);
  static std::vector<uint8_t> table(ranked::ranked_table_size);
  check(ranked::build_ranked_table(blob.data(), blob.size(), table.data()) == servers.size());
  // The table is in its own order: compare sorted entries.
  using entry = std::array<uint8_t, ranked::ranked_entry_size>;
  std::vector<entry> want(servers.size()), got(servers.size());
  for (size_t i = 0; i < servers.size(); ++i) {
    entry& e = want[i];
    std::memcpy(e.data() + ranked::rle_address, &servers[i].address, 4);
    bytes::store_u16be(e.data() + ranked::rle_port, servers[i].port);
    bytes::store_u16le(e.data() + ranked::rle_flags, servers[i].flags & ranked::record_flags_mask);
    std::memcpy(got[i].data(), table.data() + i * ranked::ranked_entry_size, ranked::ranked_entry_size);
  }
  std::sort(want.begin(), want.end());
  std::sort(got.begin(), got.end());
  check(got == want);
  return 0;
}
