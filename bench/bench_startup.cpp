// The host image record at load time, on the loading thread while the game's
// other DLLs wait: a 10 MiB generated executable with a 3 MiB and an 8 MiB
// code section, against the floor of reading that file once and hashing it
// once, side by side in one run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "core/host_image.h"
#include "core/process_state.h"
#include "digest/md5.h"
#include "read_floor.h"
#include "side_by_side.h"

namespace {

constexpr size_t file_size = 10 << 20;

// Noise with a DOS header, a PE header and one ".text" section header of
// text_size bytes at offset 0x1000.
std::string executable(size_t text_size) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/ostrel-bench-startup-" +
                           std::to_string(text_size >> 20) + ".exe";
  std::vector<uint8_t> bytes(file_size);
  std::mt19937 gen(static_cast<uint32_t>(text_size));
  for (auto& b : bytes) b = static_cast<uint8_t>(gen());
  constexpr size_t nt = 0x80, table = nt + 24 + 224;
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes::store_u32le(&bytes[60], nt);
  bytes[nt] = 'P';
  bytes[nt + 1] = 'E';
  bytes[nt + 2] = bytes[nt + 3] = 0;
  bytes::store_u16le(&bytes[nt + 6], 1);
  bytes::store_u16le(&bytes[nt + 20], 224);
  const char name[8] = ".text";
  for (size_t i = 0; i < 8; ++i) bytes[table + i] = static_cast<uint8_t>(name[i]);
  bytes::store_u32le(&bytes[table + 16], static_cast<uint32_t>(text_size));
  bytes::store_u32le(&bytes[table + 20], 0x1000);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

double host_image_record(const std::string& path) {
  uint8_t record[core::host_image_record_size] = {};
  char tag[33];
  const double start = bench::thread_cpu_ns();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) {
    core::compute_host_image_record(f, record, tag);
    std::fclose(f);
  }
  benchmark::DoNotOptimize(record);
  return bench::thread_cpu_ns() - start;
}

void BM_HostImageRecord(benchmark::State& state) {
  const std::string path = executable(static_cast<size_t>(state.range(0)) << 20);
  bench::side_by_side(
      state, 15, [&] { return bench::read_and_hash_once(path); }, [&] { return host_image_record(path); });
  state.SetLabel("10 MiB file, " + std::to_string(state.range(0)) + " MiB code section");
  std::remove(path.c_str());
}
BENCHMARK(BM_HostImageRecord)->Arg(3)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
