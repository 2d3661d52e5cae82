// gpaGetString's cost on a dedicated server: it reads the whole host
// executable in 64 KiB pieces and hashes it on every call, then composes the
// challenge's four digests.  Measured on a 10 MiB file against the floor,
// side by side in one run: reading that file once in large pieces and
// hashing it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "script/challenge.h"
#include "read_floor.h"
#include "side_by_side.h"

namespace {

const std::string& executable() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string p = std::string(tmp && *tmp ? tmp : "/tmp") + "/ostrel-bench-exe.bin";
    std::vector<uint8_t> bytes(10 << 20);
    std::mt19937 gen(3);
    for (auto& b : bytes) b = static_cast<uint8_t>(gen());
    FILE* f = std::fopen(p.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return p;
  }();
  return path;
}

// The subject: gpaGetString's work, the file opened, read and hashed, the
// challenge composed.  CPU ns.
double challenge_string() {
  script::challenge_state c{};
  c.server = {16567, 29900, 0x0500000A, 0x1401A8C0, "provider"};
  c.time = 1700000000;
  c.time_text = "1700000000";
  c.mod_directory = "mods/bf2";
  char out[script::challenge_length + 1];
  const double start = bench::thread_cpu_ns();
  FILE* f = std::fopen(executable().c_str(), "rb");
  uint8_t digest_of_file[16];
  script::file_digest(f, digest_of_file);
  if (f) std::fclose(f);
  script::compose_challenge(c, digest_of_file, out);
  benchmark::DoNotOptimize(out);
  return bench::thread_cpu_ns() - start;
}

void BM_ChallengeString(benchmark::State& state) {
  executable();
  bench::side_by_side(
      state, 15, [] { return bench::read_and_hash_once(executable()); }, challenge_string);
  state.SetLabel("10 MiB executable");
}
BENCHMARK(BM_ChallengeString)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
