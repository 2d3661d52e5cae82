// MD5 throughput of digest::md5 next to OpenSSL's on the same inputs: a short
// message (one lookup field), a page, and a file-sized run like the host image.
#include <benchmark/benchmark.h>

// OpenSSL 3 marks the MD5_* calls deprecated; they remain its plainest MD5 path.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

#include <cstdint>
#include <random>
#include <vector>

#include "digest/md5.h"

namespace {

const std::vector<uint8_t>& input() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> b(1 << 20);
    std::mt19937 gen(1);
    for (auto& x : b) x = static_cast<uint8_t>(gen());
    return b;
  }();
  return bytes;
}

void BM_ostrel_md5(benchmark::State& state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  const uint8_t* data = input().data();
  for (auto _ : state) {
    digest::md5_context ctx;
    digest::md5_start(ctx);
    digest::md5_update(ctx, data, n);
    digest::md5_final(ctx);
    benchmark::DoNotOptimize(ctx.digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}

void BM_openssl_md5(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const uint8_t* data = input().data();
  for (auto _ : state) {
    MD5_CTX ctx;
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5_Init(&ctx);
    MD5_Update(&ctx, data, n);
    MD5_Final(digest, &ctx);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

BENCHMARK(BM_ostrel_md5)->Arg(64)->Arg(4 << 10)->Arg(1 << 20);
BENCHMARK(BM_openssl_md5)->Arg(64)->Arg(4 << 10)->Arg(1 << 20);

}  // namespace
