// The calling thread's record of seam calls: thread-local, so a phase under
// test is not mixed with what other threads of the test process do meanwhile.
#include "platform/native/seam_calls.h"

#include "platform/native/test_controls.h"

namespace platform {
namespace {
thread_local std::vector<std::string>* record = nullptr;
}

void seam_calls::note(const char* call, const char* detail) {
  if (!record) return;
  std::string line = call;
  if (detail) line += std::string(" ") + detail;
  record->push_back(std::move(line));
}

void test::record_seam_calls(std::vector<std::string>* into) { record = into; }

}  // namespace platform
