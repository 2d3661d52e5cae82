// Thread slot for per-thread answer blocks.
#include "redirect/answer_blocks.h"

namespace redirect {

platform::thread_slot answer_slot = {0, 0};

void answer_slot_allocate() {
  if (!answer_slot.valid) answer_slot = platform::thread_slot_alloc();
}

void answer_slot_release() { platform::thread_slot_free(answer_slot); }

}  // namespace redirect
