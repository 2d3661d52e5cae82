// Arbitrary bytes as the "rankedservers" file, read through the loader from a
// memory stream.
#include <cstdint>
#include <cstdio>

#include "lookup_signing.h"
#include "ranked/ranked_file.h"
#include "ranked/ranked_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = ranked::arena_allocate() == 0;
  fuzz_support::check(ready);
  if (size == 0) return 0;
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!file) return 0;
  const int rc = ranked::load_ranked_stream(file);
  std::fclose(file);
  fuzz_support::check(rc == 0 || rc == 1);
  return 0;
}
