// Library start-up and tear-down, run by the DLL entry on process attach/detach.
// The top floor: the only code that knows every subsystem and connects them.
#pragma once

namespace library {

int library_attach();
int library_detach();
// Process detach.  When the process is ending, its other threads are already
// gone, perhaps while holding one of the library's locks: nothing is freed and
// no lock is taken (the system reclaims it all).  Only a real unload runs
// library_detach.  Always 0.
int library_process_detach(bool process_ending);
int network_state_init();
int server_mode_start();
// The snapshots a previous run left in the queue folder, back into the queue.
void restore_snapshot_queue();

}  // namespace library
