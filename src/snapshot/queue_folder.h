// The queue folder: every queued snapshot is also kept as a queue file in
// "<per-user folder>\snapshots", so that a restart of the server picks up
// what it had not delivered, and several servers of one user can share the
// folder without losing or doubling each other's snapshots.
//
// Names, and what the next start-up makes of each:
//   queued-NN.hsq           waiting (NN from 00 to queue_file_count - 1); its
//                           writer field names the process that owns it, and
//                           only that process changes or removes it while it
//                           runs; a dead writer's file is restored
//   queued.<pid>.take       being taken over by process pid at its start-up;
//                           restored when pid has ended
//   queued.<pid>.send       being uploaded by process pid: when pid has ended
//                           it is dropped with a log line, never sent again,
//                           since the service may have it already
//   queued.<pid>.<salt>.tmp being written by pid: removed when pid has ended
//                           (the snapshot it was to hold is elsewhere, or
//                           was never acknowledged to the scripts)
//   <name>.bad              set aside, never read again
//
// A name is claimed only by creating a file that does not exist yet or by
// moving onto a name that does not exist, both exclusive between processes,
// and every file's bytes are on the disk before the name that shows them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "snapshot/snapshot_record.h"

namespace snapshot {

inline constexpr char queue_folder_name[] = "snapshots";
// Ten queued, one in the worker's hands, and room for a second server
// process of the same user.
inline constexpr int queue_file_count = 24;

// Keeps a newly submitted record as a queue file (dated now) before it is
// queued.  0 when it was written; 1 when the record stays in memory only
// (the first time in a process, the log says so).
int keep_snapshot(snapshot_record& record);
// Removes the record's queue file, wherever it is: delivered or dropped.
void forget_snapshot(snapshot_record& record);
// Before an upload: the file becomes "queued.<pid>.send", so that a process
// that dies during the upload leaves a mark the next start-up honours.  0:
// send (also a record kept in memory only, or whose file has gone); 1: the
// folder cannot be changed now, so sending would risk a second delivery
// after a crash: put the record back and try later.
int mark_sending(snapshot_record& record);
// After an upload that did not deliver: the file goes back among the waiting
// ones; with refusal_counted, its new refusal count is written into it first.
void unmark_sending(snapshot_record& record, bool refusal_counted);
// Server-mode start-up: puts the snapshots of the queue folder back into the
// queue, oldest first and ahead of any new one, renumbered from the
// submission counter and taken over by this process; explains every other
// file of the folder as the list above says.  Files that are cut short,
// foreign or fail their check are set aside as "<name>.bad" with a log line;
// files of another server process that still runs are left to it; a file
// that cannot be taken over now (a full disk) stays as it was for a later
// start.  The number restored.
int restore_queue();
// Forgets which file numbers are in use and that the fallback was logged:
// a new process, for tests that reuse one.
void queue_folder_reset();

}  // namespace snapshot
