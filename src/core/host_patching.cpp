// Script-runtime import patching: the library registers no script module yet,
// so there is nothing to intercept.
#include "core/host_patching.h"

namespace core {

int install_script_hooks() { return 0; }

}  // namespace core
