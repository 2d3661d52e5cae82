// Patching of the host executable's script-runtime imports (dedicated server).
#pragma once

namespace core {

int install_script_hooks();  // 0 when the imports were patched

}  // namespace core
