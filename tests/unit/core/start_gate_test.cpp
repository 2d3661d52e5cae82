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

constexpr int wave_size = 4;
std::atomic<int> runs{0};
std::atomic<bool> finished{false};
std::atomic<bool> second_wave{false};
std::atomic<int> at_gate{0};   // threads inside the gate, before its lock
std::atomic<int> through{0};   // threads that went on

bool wait_until(int (*count)(), int wanted) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (count() < wanted && std::chrono::steady_clock::now() < end) std::this_thread::yield();
  return count() >= wanted;
}

// The work holds until the first wave (its own thread among them) is inside
// the gate, then lets a second wave come while it still works, and ends once
// each of those is either inside the gate or has gone on (which it must not).
// Bounded, so that a faulty gate fails the test rather than hanging it.
void slow_work() {
  runs.fetch_add(1);
  wait_until([] { return at_gate.load(); }, wave_size);
  second_wave = true;
  wait_until([] { return at_gate.load() + through.load(); }, 2 * wave_size);
  finished.store(true);
}

TEST(StartGate, FirstCallsAtOnceRunTheWorkOnceAndWaitForIt) {
  for (int round = 0; round < 3; ++round) {
    runs = 0;
    finished = false;
    second_wave = false;
    at_gate = 0;
    through = 0;
    platform::test::set_test_point("start_gate_entering", [] { at_gate.fetch_add(1); });
    core::start_gate_arm(slow_work);
    std::atomic<bool> go{false};
    std::atomic<int> early{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2 * wave_size; ++i)
      threads.emplace_back([&, i] {
        const std::atomic<bool>& start = i < wave_size ? go : second_wave;
        while (!start.load()) std::this_thread::yield();
        core::pass_start_gate();
        if (!finished.load()) early.fetch_add(1);
        through.fetch_add(1);
      });
    go = true;
    for (std::thread& t : threads) t.join();
    platform::test::set_test_point("start_gate_entering", nullptr);
    EXPECT_EQ(runs.load(), 1) << "round " << round;
    EXPECT_EQ(early.load(), 0) << "a thread went on before the work was done";
    EXPECT_EQ(at_gate.load(), 2 * wave_size) << "every thread met the closed gate";
    core::pass_start_gate();
    EXPECT_EQ(runs.load(), 1) << "an open gate runs nothing";
  }
  core::start_gate_reset();
  core::pass_start_gate();
  EXPECT_EQ(runs.load(), 1) << "a reset gate is open with nothing behind it";
}

}  // namespace
