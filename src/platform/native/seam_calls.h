// Recording of the calls that go through the platform seam, so that a test can
// hold a phase of the library (the load-time start-up) to the calls it may
// make.  Each native seam function notes itself on entry.
#pragma once

namespace platform::seam_calls {

// Appends "call" or "call detail" to the calling thread's record, if any.
void note(const char* call, const char* detail = nullptr);

}  // namespace platform::seam_calls
