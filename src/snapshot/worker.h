// The snapshot worker of a dedicated server: drains the snapshot queue through
// the HTTP transport and runs the session exchange once a minute.
#pragma once
#include "snapshot/snapshot_queue.h"

namespace snapshot {

// Starts the worker thread; 0 when it runs.
int worker_start();

}  // namespace snapshot
