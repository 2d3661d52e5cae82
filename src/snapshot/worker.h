// The snapshot worker of a dedicated server and the lock of its queue.
#pragma once
#include "platform/platform.h"

namespace snapshot {

extern platform::lock* snapshot_lock;
// Starts the worker thread; 0 when it runs.
int worker_start();

}  // namespace snapshot
