// The thread slot that holds each thread's gethostbyname answer block: one
// block per thread, allocated on the thread's first table answer and kept for
// the thread's life, so an answer stays valid until the thread's next one.
// A host that resolves on short-lived worker threads would otherwise grow by
// a block per thread: the block is freed when its thread ends, as Winsock
// frees its own per-thread answer.
#pragma once
#include <cstdint>

#include "platform/platform.h"

namespace redirect {

extern platform::thread_slot answer_slot;
void answer_slot_allocate();
void answer_slot_release();

// The calling thread's zero-filled block (answer_block_size bytes), allocated
// on first use; null when it cannot be allocated or kept in the slot.
uint8_t* thread_answer_block();
// Frees the calling thread's block, if it has one; run as the thread ends.
void thread_answer_block_release();

}  // namespace redirect
