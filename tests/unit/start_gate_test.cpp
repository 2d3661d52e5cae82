// The start gate: threads that enter the library at once run the deferred
// start-up exactly once, and none goes on before it is done; a reset library
// starts from a closed gate.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/start_gate.h"

namespace {

std::atomic<int> runs{0};
std::atomic<bool> finished{false};

void slow_work() {
  runs.fetch_add(1);
  // Long enough that the other threads arrive while this one works.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  finished.store(true);
}

TEST(StartGate, FirstCallsAtOnceRunTheWorkOnceAndWaitForIt) {
  for (int round = 0; round < 3; ++round) {
    runs = 0;
    finished = false;
    core::start_gate_arm(slow_work);
    std::atomic<bool> go{false};
    std::atomic<int> early{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&] {
        while (!go.load()) std::this_thread::yield();
        core::pass_start_gate();
        if (!finished.load()) early.fetch_add(1);
      });
    go = true;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(runs.load(), 1) << "round " << round;
    EXPECT_EQ(early.load(), 0) << "a thread went on before the work was done";
    core::pass_start_gate();
    EXPECT_EQ(runs.load(), 1) << "an open gate runs nothing";
  }
  core::start_gate_reset();
  core::pass_start_gate();
  EXPECT_EQ(runs.load(), 1) << "a reset gate is open with nothing behind it";
}

}  // namespace
