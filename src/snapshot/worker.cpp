// Snapshot worker: not started yet.
#include "snapshot/worker.h"

namespace snapshot {

int worker_start() { return 0; }

}  // namespace snapshot
