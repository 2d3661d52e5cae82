// Windows threads, the one lock type (a critical section) and thread-local slots.
#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace platform {

struct lock {
  CRITICAL_SECTION section;
};

lock* lock_create() {
  lock* l = new (std::nothrow) lock;
  if (l) InitializeCriticalSection(&l->section);
  return l;
}
void lock_destroy(lock* l) {
  if (!l) return;
  DeleteCriticalSection(&l->section);
  delete l;
}
void lock_acquire(lock* l) { EnterCriticalSection(&l->section); }
void lock_release(lock* l) { LeaveCriticalSection(&l->section); }

namespace {
struct thread_start_args {
  void (*body)(void*);
  void* arg;
};
DWORD WINAPI thread_trampoline(LPVOID p) {
  thread_start_args args = *static_cast<thread_start_args*>(p);
  delete static_cast<thread_start_args*>(p);
  args.body(args.arg);
  return 0;
}
}  // namespace

int thread_start(void (*body)(void*), void* arg) {
  auto* args = new (std::nothrow) thread_start_args{body, arg};
  if (!args) return 1;
  HANDLE h = CreateThread(nullptr, 0, thread_trampoline, args, 0, nullptr);
  if (!h) {
    delete args;
    return 1;
  }
  CloseHandle(h);
  return 0;
}

// "Dynamic-Link Library Best Practices" allows the heap functions of
// KERNEL32 in DllMain, while the dynamic C runtime's malloc and free are not
// safe there; GetProcessHeap's heap lives as long as the process.
void* thread_block_alloc(size_t size) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size); }
void thread_block_free(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

thread_slot thread_slot_alloc() {
  DWORD index = TlsAlloc();
  if (index == TLS_OUT_OF_INDEXES) return {0, 0};
  return {index, 1};
}
void thread_slot_free(thread_slot& slot) {
  if (slot.valid) TlsFree(static_cast<DWORD>(slot.index));
  slot = {0, 0};
}
void* thread_slot_get(const thread_slot& slot) {
  return slot.valid ? TlsGetValue(static_cast<DWORD>(slot.index)) : nullptr;
}
int thread_slot_set(const thread_slot& slot, void* value) {
  return slot.valid && TlsSetValue(static_cast<DWORD>(slot.index), value) ? 0 : 1;
}

}  // namespace platform
