// The start gate: threads that enter the library at once run the deferred
// start-up exactly once, and none goes on before it is done; a reset library
// starts from a closed gate.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/start_gate.h"
#include "platform/native/test_controls.h"

namespace {

constexpr int thread_count = 8;
std::atomic<int> runs{0};
std::atomic<bool> finished{false};
std::atomic<int> at_gate{0};

// Holds the work until every thread has reached the gate (each counts itself
// at the gate's test point, just before it takes the gate's lock), so that
// all the others arrive while this one works.  Bounded: a gate that let
// threads through early fails the test instead of hanging it.
void slow_work() {
  runs.fetch_add(1);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (at_gate.load() < thread_count && std::chrono::steady_clock::now() < end)
    std::this_thread::yield();
  finished.store(true);
}

TEST(StartGate, FirstCallsAtOnceRunTheWorkOnceAndWaitForIt) {
  for (int round = 0; round < 3; ++round) {
    runs = 0;
    finished = false;
    at_gate = 0;
    platform::test::set_test_point("start_gate_entering", [] { at_gate.fetch_add(1); });
    core::start_gate_arm(slow_work);
    std::atomic<bool> go{false};
    std::atomic<int> early{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < thread_count; ++i)
      threads.emplace_back([&] {
        while (!go.load()) std::this_thread::yield();
        core::pass_start_gate();
        if (!finished.load()) early.fetch_add(1);
      });
    go = true;
    for (std::thread& t : threads) t.join();
    platform::test::set_test_point("start_gate_entering", nullptr);
    EXPECT_EQ(at_gate.load(), thread_count) << "round " << round;
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
