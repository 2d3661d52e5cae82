// Snapshot buffers come from build_snapshot's non-throwing array allocation.
#include "snapshot/snapshot_record.h"

namespace snapshot {

void release_snapshot(snapshot_record& record) {
  delete[] record.buffer;
  record = snapshot_record{};
}

}  // namespace snapshot
