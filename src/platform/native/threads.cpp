// Native threads, lock and thread-local slots on POSIX threads.
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "platform/native/seam_calls.h"
#include "platform/native/test_controls.h"

namespace platform {

struct lock {
  pthread_mutex_t mutex;
};

lock* lock_create() {
  seam_calls::note("lock_create");
  lock* l = new (std::nothrow) lock;
  if (l) pthread_mutex_init(&l->mutex, nullptr);
  return l;
}
void lock_destroy(lock* l) {
  seam_calls::note("lock_destroy");
  if (!l) return;
  pthread_mutex_destroy(&l->mutex);
  delete l;
}
void lock_acquire(lock* l) {
  seam_calls::note("lock_acquire");
  pthread_mutex_lock(&l->mutex);
}
void lock_release(lock* l) {
  seam_calls::note("lock_release");
  pthread_mutex_unlock(&l->mutex);
}

namespace {
std::atomic<bool> start_failing{false};

struct thread_start_args {
  void (*body)(void*);
  void* arg;
};
void* thread_trampoline(void* p) {
  thread_start_args args = *static_cast<thread_start_args*>(p);
  delete static_cast<thread_start_args*>(p);
  args.body(args.arg);
  return nullptr;
}
}  // namespace

int thread_start(void (*body)(void*), void* arg) {
  seam_calls::note("thread_start");
  if (start_failing.load()) return 1;
  auto* args = new (std::nothrow) thread_start_args{body, arg};
  if (!args) return 1;
  pthread_t t;
  if (pthread_create(&t, nullptr, thread_trampoline, args) != 0) {
    delete args;
    return 1;
  }
  pthread_detach(t);
  return 0;
}

namespace {
std::atomic<long> live_thread_blocks{0};
}
void* thread_block_alloc(size_t size) {
  seam_calls::note("thread_block_alloc");
  void* block = std::calloc(1, size);
  if (block) ++live_thread_blocks;
  return block;
}
void thread_block_free(void* block) {
  seam_calls::note("thread_block_free");
  if (!block) return;
  --live_thread_blocks;
  std::free(block);
}
namespace test {
long thread_blocks_live() { return live_thread_blocks.load(); }
}  // namespace test

thread_slot thread_slot_alloc() {
  seam_calls::note("thread_slot_alloc");
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) return {0, 0};
  return {static_cast<uintptr_t>(key), 1};
}
void thread_slot_free(thread_slot& slot) {
  seam_calls::note("thread_slot_free");
  if (slot.valid) pthread_key_delete(static_cast<pthread_key_t>(slot.index));
  slot = {0, 0};
}
void* thread_slot_get(const thread_slot& slot) {
  seam_calls::note("thread_slot_get");
  return slot.valid ? pthread_getspecific(static_cast<pthread_key_t>(slot.index)) : nullptr;
}
int thread_slot_set(const thread_slot& slot, void* value) {
  seam_calls::note("thread_slot_set");
  return slot.valid && pthread_setspecific(static_cast<pthread_key_t>(slot.index), value) == 0
             ? 0
             : 1;
}

namespace {
std::mutex points_guard;
std::map<std::string, std::function<void()>> points;
// Checked before the map: a library thread passing a test point pays one
// load while no test has set any.
std::atomic<bool> any_point{false};
}  // namespace

#ifndef OSTREL_NO_TEST_POINTS
void test_point(const char* name) {
  if (!any_point.load(std::memory_order_relaxed)) return;
  std::function<void()> fn;
  {
    std::lock_guard<std::mutex> hold(points_guard);
    auto it = points.find(name);
    if (it == points.end()) return;
    fn = it->second;
  }
  fn();
}
#endif

namespace test {
void set_thread_start_failing(bool failing) { start_failing.store(failing); }
void set_test_point(const char* name, std::function<void()> fn) {
  std::lock_guard<std::mutex> hold(points_guard);
  if (fn)
    points[name] = std::move(fn);
  else
    points.erase(name);
  any_point.store(!points.empty());
}
void clear_test_points() {
  std::lock_guard<std::mutex> hold(points_guard);
  points.clear();
  any_point.store(false);
}
}  // namespace test

}  // namespace platform
