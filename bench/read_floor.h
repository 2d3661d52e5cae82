// The floor of every whole-file digest at load time or per call: the file
// read once in 1 MiB pieces and hashed once.  CPU ns of this thread.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "side_by_side.h"

namespace bench {

inline double read_and_hash_once(const std::string& path) {
  static std::vector<uint8_t> piece(1 << 20);
  const double start = thread_cpu_ns();
  FILE* f = std::fopen(path.c_str(), "rb");
  digest::md5_context ctx;
  digest::md5_start(ctx);
  size_t n;
  while (f && (n = std::fread(piece.data(), 1, piece.size(), f)) > 0)
    digest::md5_update(ctx, piece.data(), static_cast<uint32_t>(n));
  digest::md5_final(ctx);
  if (f) std::fclose(f);
  benchmark::DoNotOptimize(ctx.digest);
  return thread_cpu_ns() - start;
}

}  // namespace bench
