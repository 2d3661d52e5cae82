// The start gate.  The first thread through runs the deferred work holding the
// gate's lock, so a thread that arrives meanwhile waits on the lock rather than
// spinning, and finds the work done when it gets in.  Should the lock not have
// been created, a claim on the state still lets exactly one thread run the
// work, and the others poll until it is done.
#include "core/start_gate.h"

#include "platform/platform.h"

namespace core {

namespace gate_detail {
std::atomic<int> done{0};
}

namespace {
constexpr int idle = 0, running = 1;
std::atomic<int> state{idle};
std::atomic<void (*)()> gate_work{nullptr};
platform::lock* gate_lock = nullptr;  // set before any caller exists
}  // namespace

void start_gate_arm(void (*work)()) {
  if (!gate_lock) gate_lock = platform::lock_create();
  gate_work.store(work);
  state.store(idle);
  gate_detail::done.store(0);
}

void start_gate_reset() {
  gate_work.store(nullptr);
  state.store(running);
  gate_detail::done.store(1);
}

void gate_detail::run_once() {
  platform::lock* l = gate_lock;
  platform::test_point("start_gate_entering");
  if (l) platform::lock_acquire(l);
  int expected = idle;
  if (state.compare_exchange_strong(expected, running)) {
    if (void (*work)() = gate_work.load()) work();
    done.store(1, std::memory_order_release);
  } else {
    while (!done.load(std::memory_order_acquire)) platform::sleep_ms(1);
  }
  if (l) platform::lock_release(l);
}

}  // namespace core
