// The "rankedservers" file, two ways.  Arbitrary bytes as the file, read
// through the loader from a memory stream.  Then a list of servers taken from
// the input (seven bytes each), sealed as the master server seals it: the
// file the library writes for it loads again into the same table as the blob
// installed directly.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "deploy_values.h"
#include "lookup_signing.h"
#include "platform/native/test_controls.h"
#include "ranked/ranked_blob.h"
#include "ranked/ranked_file.h"
#include "ranked/ranked_store.h"
#include "service/ranked_messages.h"

namespace {

using fuzz_support::check;

void any_file(const uint8_t* data, size_t size) {
  if (size == 0) return;
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!file) return;
  const int rc = ranked::load_ranked_stream(file);
  std::fclose(file);
  check(rc == 0 || rc == 1);
}

std::vector<std::vector<uint8_t>> table_entries() {
  std::vector<std::vector<uint8_t>> out(ranked::ranked_count());
  for (size_t i = 0; i < out.size(); ++i) {
    out[i].resize(ranked::ranked_entry_size);
    check(ranked::ranked_entry(i, out[i].data()));
  }
  return out;
}

void written_file(const uint8_t* data, size_t size) {
  constexpr uint16_t default_port = 16567;
  std::vector<service::ranked_server> servers;
  for (size_t at = 0; at + 7 <= size && servers.size() < ranked::ranked_max_entries; at += 7) {
    service::ranked_server s;
    s.address = bytes::load_u32le(data + at);
    s.port = bytes::load_u16le(data + at + 4);
    s.flags = data[at + 6] & ranked::record_flags_mask;
    // Flags 0 off the default port would be the list's closing byte.
    if (s.flags == 0 && s.port != default_port) s.flags = 1;
    servers.push_back(s);
  }
  static const service::ranked_keys keys = service::make_ranked_keys(
      deploy::ranked_key_chain, deploy::ranked_mac_chain, deploy::ranked_feedback);
  uint8_t nonce[16] = {};
  std::memcpy(nonce, data, size < 16 ? size : 16);
  const std::vector<uint8_t> blob =
      service::seal_ranked_blob(keys, nonce, service::ranked_body(7, default_port, servers));
  if (blob.size() > ranked::ranked_blob_max_size) return;

  ranked::ranked_reset();
  check(ranked::install_ranked_blob(blob.data(), blob.size()) == 0);
  const auto installed = table_entries();
  ranked::ranked_reset();
  check(ranked::write_ranked_file(blob.data(), blob.size()) == 0);
  check(ranked::load_ranked_list() == 0);
  check(table_entries() == installed);
}

// The per-user folder the file is written to: a private one for the run.
char folder[] = "/tmp/fuzz_ranked_file.XXXXXX";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    if (!mkdtemp(folder)) return false;
    std::atexit([] { std::filesystem::remove_all(folder); });
    platform::test::set_appdata_folder(folder);
    return ranked::arena_allocate() == 0;
  }();
  check(ready);
  any_file(data, size);
  written_file(data, size);
  return 0;
}
