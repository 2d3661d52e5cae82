// Thread slot for per-thread answer blocks.
#include "redirect/answer_blocks.h"

#include <new>

#include "redirect/host_entry.h"

namespace redirect {

platform::thread_slot answer_slot = {0, 0};

void answer_slot_allocate() {
  if (!answer_slot.valid) answer_slot = platform::thread_slot_alloc();
}

void answer_slot_release() { platform::thread_slot_free(answer_slot); }

uint8_t* thread_answer_block() {
  auto* block = static_cast<uint8_t*>(platform::thread_slot_get(answer_slot));
  if (block) return block;
  block = new (std::nothrow) uint8_t[answer_block_size]();
  if (!block) return nullptr;
  if (platform::thread_slot_set(answer_slot, block) != 0) {
    delete[] block;
    return nullptr;
  }
  return block;
}

}  // namespace redirect
