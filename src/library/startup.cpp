// Start-up: mode and names from the executable path, the host image record,
// the mode's own work, the network tables and the receive filter.  No failure
// here reaches the host: each step that cannot be done is skipped.
#include "library/startup.h"

#include <new>

#include "core/host_image.h"
#include "core/host_names.h"
#include "core/process_state.h"
#include "core/registry_readers.h"
#include "core/service_state.h"
#include "core/settings_file.h"
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

using core::process;

namespace {
constexpr size_t path_size = 260;

void read_host_image(const char* path) {
  FILE* file = path[0] ? platform::open_file(path, "rb") : nullptr;
  if (!file) return;
  core::compute_host_image_record(file, process.host_image_record, process.host_image_tag);
  std::fclose(file);
}

void client_mode_start() {
  if (ranked::arena_allocate() != 0) return;
  process.server_browser_mode = ranked::read_browser_mode();
  ranked::load_ranked_list();
}
}  // namespace

// Touches the per-user folder and its files, work that has no place under the
// loader lock: one call, so that it can move to start-up outside the entry.
void restore_snapshot_queue() { snapshot::restore_queue(); }

int server_mode_start() {
  if (!core::service) core::service = new (std::nothrow) core::service_state();
  if (!snapshot::snapshot_lock) snapshot::snapshot_lock = platform::lock_create();
  restore_snapshot_queue();
  if (snapshot::worker_start() != 0) return 1;
  script::install_script_hooks();
  return 0;
}

int network_state_init() {
  redirect::answer_slot_allocate();
  if (redirect::address_table_allocate() != 0) return 1;
  if (sockets::player_logins_allocate() != 0) return 1;
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
    client_mode_start();

  network_state_init();
  sockets::select_receive_filter(process.operating_mode);
  process.initialised = 1;
  return 0;
}

int library_process_detach(bool process_ending) {
  if (process_ending) return 0;
  return library_detach();
}

int library_detach() {
#ifndef _WIN32
  // Native builds (tests) reuse one process: the worker must not outlive the
  // state it reads.  The DLL leaves it running, as the host process ends.
  snapshot::worker_stop();
#endif
  redirect::address_table_release();
  redirect::answer_slot_release();
  delete core::service;
  core::service = nullptr;
  platform::lock_destroy(snapshot::snapshot_lock);
  snapshot::snapshot_lock = nullptr;
  return 0;
}

}  // namespace library
