// Arbitrary bytes as a ranked-list blob: installed as they are, then taken as
// a nonce and a plain body, signed and enciphered with the deployment's keys
// so that the record parser is reached.  A sealed blob of a valid length must
// install; the table never holds more than 8000 entries.
#include <cstdint>
#include <cstring>
#include <vector>

#include "lookup_signing.h"
#include "ranked_sealing.h"
#include "ranked/ranked_blob.h"
#include "ranked/ranked_store.h"

using fuzz_support::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = ranked::arena_allocate() == 0;
  check(ready);
  const int as_is = ranked::install_ranked_blob(data, size);
  check(as_is == 0 || as_is == 1);
  if (size < 16) return 0;
  const std::vector<uint8_t> blob = fuzz_support::seal(data, size);
  const int sealed = ranked::install_ranked_blob(blob.data(), blob.size());
  const bool valid_length = blob.size() >= ranked::ranked_blob_min_size &&
                            blob.size() <= ranked::ranked_blob_max_size;
  check(sealed == (valid_length ? 0 : 1));
  check(ranked::ranked_count() <= ranked::ranked_max_entries);
  ranked::ranked_lookup(0x0100007F, 0x4C75);
  return 0;
}
