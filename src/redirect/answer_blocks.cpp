// Thread slot for per-thread answer blocks.
#include "redirect/answer_blocks.h"

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
  block = static_cast<uint8_t*>(platform::thread_block_alloc(answer_block_size));
  if (!block) return nullptr;
  if (platform::thread_slot_set(answer_slot, block) != 0) {
    platform::thread_block_free(block);
    return nullptr;
  }
  return block;
}

void thread_answer_block_release() {
  void* block = platform::thread_slot_get(answer_slot);
  if (!block) return;
  platform::thread_slot_set(answer_slot, nullptr);
  platform::thread_block_free(block);
}

}  // namespace redirect
