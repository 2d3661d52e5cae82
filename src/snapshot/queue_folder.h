// The queue folder: every queued snapshot is also kept as a queue file in
// "<per-user folder>\snapshots", so that a restart of the server picks up
// what it had not delivered.  Files are named "queued-NN.hsq" (NN from 00 to
// queue_file_count - 1); each is written under a temporary name and renamed,
// and removed once its snapshot is delivered or dropped.
#pragma once
#include <cstddef>
#include <cstdint>

#include "snapshot/snapshot_record.h"

namespace snapshot {

inline constexpr char queue_folder_name[] = "snapshots";
// Ten queued, one in the worker's hands, and room for a second server
// process of the same user: a number whose file exists is never taken.
inline constexpr int queue_file_count = 24;

// Keeps a newly submitted record as a queue file (dated now) before it is
// queued.  0 when it was written; 1 when the record stays in memory only
// (the first time in a process, the log says so).
int keep_snapshot(snapshot_record& record);
// Removes the record's queue file, if it has one: delivered or dropped.
void forget_snapshot(snapshot_record& record);
// Server-mode start-up: puts the snapshots of the queue folder back into the
// queue, oldest first and ahead of any new one, renumbered from the
// submission counter; files that are cut short, foreign or fail their check
// are set aside as "<name>.bad" with a log line; files of another server
// process that still runs are left to it.  The number restored.
int restore_queue();
// Forgets which file numbers are in use and that the fallback was logged:
// a new process, for tests that reuse one.
void queue_folder_reset();

}  // namespace snapshot
