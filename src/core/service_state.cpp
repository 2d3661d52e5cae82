// The one script service state block of a dedicated server; null in client mode.
#include "core/service_state.h"

namespace core {
service_state* service = nullptr;
}
