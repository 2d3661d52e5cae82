// The end-to-end suite's entry: one Wine prefix and wineserver for the run.
#include <gtest/gtest.h>

#include <cstdio>

#include "wine_host.h"

namespace {
struct wine_environment : ::testing::Environment {
  void SetUp() override { e2e::start_wine(); }
  void TearDown() override { e2e::stop_wine(); }
};
}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!e2e::wine_runs()) {
    // The DLL's own tables are read with objdump and need no Wine; everything
    // that starts hostsim cannot run on this machine.
    std::fprintf(stderr,
                 "e2e: Wine cannot run 32-bit programs on this machine: only the DLL table "
                 "checks run, every hostsim case is skipped\n");
    ::testing::GTEST_FLAG(filter) = "DllTables.*";
    return RUN_ALL_TESTS();
  }
  ::testing::AddGlobalTestEnvironment(new wine_environment);
  return RUN_ALL_TESTS();
}
