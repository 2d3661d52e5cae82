// The name hook, in the order a look-up takes: the launcher's verdict (client
// mode), names starting with a digit, the lookup refresh, the name key, the
// statistics web host, table answers, the push host, the suffix swap.
//
// The statistics web host is resolved under the ranking host selection's
// name, which goes through the hook again.  If that name is itself the
// statistics web host (a custom registry value can name it), it goes to the
// real resolver instead of round the hook for ever.
//
// A thread whose answer block cannot be allocated gets the real resolver's
// answer for the name: the host game always gets a host entry or the real
// library's failure, never one of ours that is not there.
#include "redirect/name_hook.h"

#include <cstring>

#include "core/launcher.h"
#include "base/text.h"
#include "core/process_state.h"
#include "core/settings_file.h"
#include "deploy_values.h"
#include "platform/net.h"
#include "redirect/address_table.h"
#include "redirect/answer_blocks.h"
#include "redirect/host_entry.h"
#include "redirect/host_rewrite.h"
#include "redirect/lookup_refresh.h"
#include "redirect/name_key.h"
#include "redirect/redirection_table.h"

namespace redirect {
namespace {

void* real(const char* name) { return platform::real_gethostbyname_function()(name); }

void* resolve(const char* name, bool ranking_choice) {
  if (core::process.operating_mode == core::mode_client) {
    const int verdict = core::launcher_handshake();
    core::launcher_verdict.store(verdict);
    if (verdict == 0) return real(name);
  }
  if (!name || (name[0] >= '0' && name[0] <= '9')) return real(name);

  lookup_refresh();
  const uint32_t key = name_key(name);
  table_entry entry;
  const bool in_table = find_entry(key, &entry) == 0;

  if (key == stats_web_host_key) {
    if (ranking_choice) return real(name);
    core::settings_reload();
    if (stats_resolver_flag() > 0) return real(name);
    core::settings_reload();
    char lookup_name[stats_name_size] = {};
    stats_lookup_name(lookup_name);
    if (lookup_name[0]) return real(lookup_name);
    char ranking[host_name_size] = {};
    ranking_host_selection(ranking);
    return resolve(ranking, true);
  }

  if (in_table) {
    uint8_t* block = thread_answer_block();
    if (!block) return real(name);
    return build_table_answer(block, name, entry.first_address);
  }

  char rewritten[host_name_size] = {};
  if (key == push_host_key) {
    text::copy_bounded(rewritten, sizeof rewritten, deploy::replacement_push_host);
    return real(rewritten);
  }
  if (strnlen(name, host_name_size) >= host_name_size) return real(name);
  suffix_swap(name, rewritten);
  return real(rewritten);
}

}  // namespace

void* name_hook(const char* name) { return resolve(name, false); }

}  // namespace redirect
