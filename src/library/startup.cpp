// Start-up in two parts.  At load, under the platform's loader lock, only what
// Windows allows there: the mode and names from the executable path, the host
// image record (reading the executable), the tables and locks, the import
// patches and the receive filter.  Everything that reaches the registry, the
// per-user folder, sockets or threads waits behind the start gate for the
// first thread that enters the library.  No failure here reaches the host:
// each step that cannot be done is skipped.
#include "library/startup.h"

#include <new>

#include "core/host_image.h"
#include "core/host_names.h"
#include "core/process_state.h"
#include "core/service_state.h"
#include "core/settings_file.h"
#include "core/start_gate.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "ranked/ranked_file.h"
#include "ranked/ranked_refresh.h"
#include "ranked/ranked_store.h"
#include "redirect/address_table.h"
#include "redirect/answer_blocks.h"
#include "redirect/lookup_cache.h"
#include "redirect/redirection_table.h"
#include "script/script_hooks.h"
#include "snapshot/queue_folder.h"
#include "snapshot/worker.h"
#include "sockets/dispatch.h"
#include "sockets/player_logins.h"

namespace library {

// Touches the per-user folder and its files: first call, never under the loader lock.
void restore_snapshot_queue() { snapshot::restore_queue(); }

using core::process;

namespace {
constexpr size_t path_size = 260;

void read_host_image(const char* path) {
  FILE* file = path[0] ? platform::open_file(path, "rb") : nullptr;
  if (!file) return;
  core::compute_host_image_record(file, process.host_image_record, process.host_image_tag);
  std::fclose(file);
}

// ---- Behind the start gate: one line a step, in the order they run. -------

// The ranked list and the setting that moves the server-list connection.
void client_mode_first_call() {
  if (!ranked::arena_allocated()) return;
  process.server_browser_mode = ranked::read_browser_mode();
  ranked::load_ranked_list();
}

// The worker, and with it the script runtime hooks: without a worker to upload
// them, the scripts are not offered the module that takes snapshots.
void server_mode_first_call() {
  restore_snapshot_queue();
  if (snapshot::worker_start() != 0) script::withdraw_script_hooks();
}

void first_call() {
  // Before any socket of the library's own: a host that cleans its socket
  // library up must not take those sockets with it.
  platform::winsock_reference();
  if (process.operating_mode == core::mode_server)
    server_mode_first_call();
  else
    client_mode_first_call();
  network_state_load();
}
}  // namespace


int server_mode_start() {
  if (!core::service) core::service = new (std::nothrow) core::service_state();
  if (!snapshot::snapshot_lock) snapshot::snapshot_lock = platform::lock_create();
  // Patched now, while no thread of the host can be calling the runtime; the
  // hooks pass the start gate before they act.
  script::install_script_hooks();
  return 0;
}

int network_state_init() {
  redirect::answer_slot_allocate();
  if (redirect::address_table_allocate() != 0) return 1;
  if (sockets::player_logins_allocate() != 0) return 1;
  return 0;
}

int network_state_load() {
  if (!redirect::address_table_allocated() || !sockets::player_logins_allocated()) return 1;
  redirect::load_cache(1, 86400);
  redirect::load_cache(0, 43200);
  return 0;
}

int library_attach() {
  if (process.initialised) return 0;

  char path[path_size];
  if (platform::executable_path(path, sizeof path) != 0) path[0] = '\0';
  path[path_size - 1] = '\0';
  process.operating_mode = core::mode_from_path(path);
  core::derive_host_names(path, process.host_executable_name, sizeof process.host_executable_name,
                    process.settings_file_name, sizeof process.settings_file_name);

  for (uint8_t& b : process.host_image_record) b = 0;
  read_host_image(path);

  // The settings file feeds the redirection table; neither floor knows the other.
  core::settings_set_handler(redirect::redirection_entry);

  if (process.operating_mode == core::mode_server)
    server_mode_start();
  else
    ranked::arena_allocate();

  network_state_init();
  sockets::select_receive_filter(process.operating_mode);
  core::start_gate_arm(first_call);
  process.initialised = 1;
  return 0;
}

int library_process_detach(bool process_ending) {
  if (process_ending) return 0;
  return library_detach();
}

int library_thread_detach() {
  redirect::thread_answer_block_release();
  return 0;
}

int library_detach() {
#ifndef _WIN32
  // Native builds (tests) reuse one process: the worker must not outlive the
  // state it reads.  The DLL leaves it running, as the host process ends.
  snapshot::worker_stop();
  core::start_gate_reset();
#endif
  redirect::address_table_release();
  // Other threads' blocks stay with the process heap: an unload while they
  // run cannot reach their slots.
  redirect::thread_answer_block_release();
  redirect::answer_slot_release();
  delete core::service;
  core::service = nullptr;
  platform::lock_destroy(snapshot::snapshot_lock);
  snapshot::snapshot_lock = nullptr;
  return 0;
}

}  // namespace library
