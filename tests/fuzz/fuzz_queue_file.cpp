// The queue file loader over arbitrary bytes: whatever a file in the queue
// folder holds, the loader reads only inside it, and what it accepts is a
// whole file whose head describes exactly the bytes given, and which the
// writer would make again byte for byte (files of the current version).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "snapshot/queue_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly size bytes, so that a read past the end is caught.
  std::vector<uint8_t> bytes(data, data + size);
  snapshot::queue_file_view view;
  const snapshot::queue_file_fault fault = snapshot::parse_queue_file(bytes.data(), size, &view);
  if (snapshot::queue_file_fault_text(fault)[0] == '\0') std::abort();
  if (fault != snapshot::queue_file_fault::none) return 0;
  if (size != view.head_size + view.body_length || view.body != bytes.data() + view.head_size ||
      view.body_length < snapshot::queue_file_min_body || view.body_length > snapshot::queue_file_max_body)
    std::abort();
  if (view.head_size != snapshot::qf_body) {
    // A file of the first version: no refusals, and the writer makes the
    // current version only.
    if (view.head_size != snapshot::qf1_body || view.refusals != 0) std::abort();
    return 0;
  }
  std::vector<uint8_t> again(bytes);
  snapshot::format_queue_head(again.data(), view.sequence, view.submitted, view.body_length,
                              view.writer, view.refusals);
  if (again != bytes) std::abort();
  return 0;
}
