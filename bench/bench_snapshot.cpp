// Snapshot upload costs: build_snapshot (allocation, digests, cipher) for 4 KiB
// and 64 KiB of data, and the whole upload of one snapshot (header, connection,
// request from the one buffer, reply) to the reference web server on
// 127.0.0.1:80.  Run it under the ports lock: it binds port 80.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/spacing.h"
#include "core/process_state.h"
#include "core/service_state.h"
#include "deploy_values.h"
#include "deployment_keys.h"
#include "platform/native/test_controls.h"
#include "redirect/address_table.h"
#include "redirect/answer_blocks.h"
#include "redirect/host_entry.h"
#include "redirect/lookup_refresh.h"
#include "service/stats_http_server.h"
#include "snapshot/snapshot_body.h"
#include "snapshot/snapshot_send.h"

namespace {

constexpr uint32_t now = 1800000000;
core::service_state block{};

void prepare() {
  platform::test::set_clock(now);
  redirect::last_refresh_time = spacing::stamp(platform::monotonic_ms());  // no lookup exchange
  core::process.operating_mode = core::mode_server;
  redirect::address_table_allocate();
  redirect::answer_slot_allocate();
  std::snprintf(block.provider_id, sizeof block.provider_id, "PROV-bench");
  block.start_time = now - 100;
  core::service = &block;
}

void* loopback(const char*) {
  static uint32_t address = 0x0100007F;  // 127.0.0.1 in network order
  static char* list[2] = {reinterpret_cast<char*>(&address), nullptr};
  static char* aliases[1] = {nullptr};
  static char name[] = "snapshots";
  static redirect::host_entry entry{name, aliases, 2, 4, list};
  return &entry;
}

void BM_build_snapshot(benchmark::State& state) {
  prepare();
  const std::vector<uint8_t> data(static_cast<size_t>(state.range(0)), 0x5A);
  for (auto _ : state) {
    snapshot::snapshot_record r;
    r.header_reserve = snapshot::header_reserve_size;
    if (snapshot::build_snapshot(r, data.data(), data.size(), 1, 2, 3, 4) != 0)
      state.SkipWithError("allocation failed");
    benchmark::DoNotOptimize(r.buffer);
    snapshot::release_snapshot(r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_build_snapshot)->Arg(4096)->Arg(65536);

void BM_upload(benchmark::State& state) {
  prepare();
  platform::test::set_real_gethostbyname(loopback);
  service::stats_http_server server(test_support::deployment_stats_keys());
  server.add_provider("PROV-bench");
  std::string error;
  if (!server.start(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  const std::vector<uint8_t> data(static_cast<size_t>(state.range(0)), 0x5A);
  snapshot::snapshot_record r;
  r.header_reserve = snapshot::header_reserve_size;
  snapshot::build_snapshot(r, data.data(), data.size(), 1, 2, 3, 4);
  for (auto _ : state)
    if (snapshot::send_snapshot(r) != 0) state.SkipWithError("upload failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  snapshot::release_snapshot(r);
  server.stop();
  platform::test::set_real_gethostbyname(nullptr);
}
BENCHMARK(BM_upload)->Arg(4096)->Arg(65536)->UseRealTime();

}  // namespace
