// Library start-up and tear-down, run by the DLL entry on process attach/detach.
// The top floor: the only code that knows every subsystem and connects them.
#pragma once

namespace library {

// The load-time part of start-up (what the loader lock allows); it arms the
// start gate with the rest, which the first call into the library runs.
int library_attach();
int library_detach();
// Process detach.  When the process is ending, its other threads are already
// gone, perhaps while holding one of the library's locks: nothing is freed and
// no lock is taken (the system reclaims it all).  Only a real unload runs
// library_detach.  Always 0.
int library_process_detach(bool process_ending);
// Thread detach: frees what the library kept for the ending thread.  Always 0.
int library_thread_detach();
// The tables of the network state (load time); 1 when one cannot be allocated.
int network_state_init();
// The look-up cache files into the address table (first call); 1 without tables.
int network_state_load();
int server_mode_start();
// The snapshots a previous run left in the queue folder, back into the queue.
void restore_snapshot_queue();

}  // namespace library
