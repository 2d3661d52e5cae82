// The snapshot queue of a dedicated server: ten records under the snapshot
// lock, handed from the script thread (submission) to the worker (upload).
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "snapshot/snapshot_record.h"

namespace snapshot {

inline constexpr size_t queue_slots = 10;

// Created by start-up in server mode; guards the queue's slots and nothing
// else.  Without it (client mode) the queue takes nothing.
extern platform::lock* snapshot_lock;

// Counts submissions; touched only by the script thread.
extern uint32_t submission_counter;
// Advances the counter and gives the new record's sequence: 1 when the
// counter wraps to 0 (the counter itself stays 0).
uint32_t next_sequence();

// 0 when the queue took the record (it owns the buffer from then on), 1 when
// it refused it (the caller still owns the buffer).  A record without buffer
// or with body length 0 is refused at once.  When all ten slots are taken, a
// record newer than every queued one evicts the oldest, which is logged and
// released; any other record is refused.
int enqueue(const snapshot_record* record);
// 0 and the oldest queued record (the caller owns its buffer), or 1 when the
// queue is empty, leaving *out untouched.
int dequeue(snapshot_record* out);

// Logs a snapshot that is given up ("SNAPSHOT: ..." with its sequence, size
// and why), removes its queue file and releases it: a snapshot is never lost
// without a trace.
void discard_snapshot(snapshot_record& record, const char* why);

// The submission date of the first queued record, 0 when none is queued.
uint32_t queue_oldest_submitted();

// Releases every queued record, leaving their queue files as a process that
// ends would: for tests, which reuse one process.
void queue_reset();
// Number of occupied slots, for tests and diagnostics.
size_t queue_count();

}  // namespace snapshot
