// The thread slot that holds each thread's gethostbyname answer block.
#pragma once
#include "platform/platform.h"

namespace redirect {

extern platform::thread_slot answer_slot;
void answer_slot_allocate();
void answer_slot_release();

}  // namespace redirect
