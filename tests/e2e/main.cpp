// The end-to-end suite's entry: one Wine prefix and wineserver for the run.
#include <gtest/gtest.h>

#include "wine_host.h"

namespace {
struct wine_environment : ::testing::Environment {
  void SetUp() override { e2e::start_wine(); }
  void TearDown() override { e2e::stop_wine(); }
};
}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new wine_environment);
  return RUN_ALL_TESTS();
}
