// The name hook's cost per call for a name answered from the address table
// (key, locked search, answer block), in both operating modes (a client also
// asks the launcher's registry values on every call: once with none, once
// with the hand-over a launcher leaves on a player's machine, whose record is
// checked against the running launcher's image name), and the table search
// alone over a full table: a hit on the last entry and a miss.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "base/spacing.h"
#include "base/bytes.h"
#include "core/launcher.h"
#include "core/process_state.h"
#include "platform/native/test_controls.h"
#include "redirect/address_table.h"
#include "redirect/answer_blocks.h"
#include "redirect/lookup_refresh.h"
#include "redirect/name_hook.h"
#include "redirect/name_key.h"

namespace {

constexpr uint32_t now = 1800000000;

// A full table of single-address entries (18 bytes each); returns its last key.
uint32_t fill(redirect::table_view& t) {
  redirect::table_empty(t);
  uint32_t key = 0;
  const uint32_t address = 0x0100000A;
  for (uint32_t i = 1; redirect::table_add(t, i * 2654435761u, 1, 0, 0, &address) == 0; ++i)
    key = i * 2654435761u;
  return key;
}

void prepare(int mode, int entries_before) {
  platform::test::set_clock(now);
  redirect::last_refresh_time = spacing::stamp(platform::monotonic_ms());  // no exchange here
  core::process.operating_mode = mode;
  redirect::address_table_allocate();
  redirect::answer_slot_allocate();
  std::vector<uint8_t> area(redirect::address_table_size);
  redirect::table_view t{area.data(), area.size(), 0};
  redirect::table_empty(t);
  const uint32_t address = 0x0100000A;
  for (int i = 0; i < entries_before; ++i) {
    const std::string name = "filler" + std::to_string(i) + ".legacy.test";
    redirect::table_add(t, redirect::name_key(name.c_str()), 1, 0, 0, &address);
  }
  redirect::table_add(t, redirect::name_key("master.legacy.test"), 2, 0, 0, &address);
  redirect::address_table_publish(t);
}

// client_opmode 1 and a record vouched for by a running launcher, as the
// launcher leaves them when it starts the game.
void hand_over_present() {
  constexpr uint32_t launcher_pid = 4242;
  const char* image = "\\Device\\HarddiskVolume2\\Games\\Game\\launcher.exe";
  platform::test::set_process_image_name(launcher_pid, image);
  uint8_t record[core::launcher_record_size] = {'H', 'P', 'V', '1'};
  bytes::store_u32le(record + core::lr_pid, launcher_pid);
  for (size_t i = 0; i < core::lr_value_size; ++i) record[core::lr_value + i] = static_cast<uint8_t>(i * 37);
  core::launcher_tag(record, image, record + core::lr_tag);
  platform::test::registry_set_dword(platform::registry_root::current_user, "client_opmode", 1);
  platform::test::registry_set(platform::registry_root::current_user, "client_opvdata",
                               platform::reg_binary, record, sizeof record);
}

enum hook_case { client_empty_registry, client_hand_over, server };

void BM_HookTableHit(benchmark::State& state) {
  const auto c = static_cast<hook_case>(state.range(0));
  platform::test::registry_reset();
  platform::test::clear_process_image_names();
  if (c == client_hand_over) hand_over_present();
  prepare(c == server ? core::mode_server : core::mode_client, 10);
  for (auto _ : state) benchmark::DoNotOptimize(redirect::name_hook("master.legacy.test"));
  if (c == client_hand_over && core::launcher_verdict.load() != 1)
    state.SkipWithError("the hand-over did not vouch");
  const char* labels[] = {"client, empty registry", "client, launcher hand-over present", "server"};
  state.SetLabel(labels[c]);
  platform::test::registry_reset();
  platform::test::clear_process_image_names();
}
BENCHMARK(BM_HookTableHit)->Arg(client_empty_registry)->Arg(client_hand_over)->Arg(server);

void BM_FullTableSearch(benchmark::State& state) {
  std::vector<uint8_t> area(redirect::address_table_size);
  redirect::table_view t{area.data(), area.size(), 0};
  const uint32_t last = fill(t);
  redirect::address_table_allocate();
  redirect::address_table_publish(t);
  const uint32_t wanted = state.range(0) ? last : 0xDEADBEEF;
  redirect::table_entry entry{};
  for (auto _ : state) benchmark::DoNotOptimize(redirect::find_entry(wanted, &entry));
  state.SetLabel(state.range(0) ? "last of a full table" : "miss in a full table");
}
BENCHMARK(BM_FullTableSearch)->Arg(1)->Arg(0);

}  // namespace
