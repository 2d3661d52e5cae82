// The one process-wide instance of the start-up facts.
#include "core/process_state.h"

namespace core {
process_state process;
}
