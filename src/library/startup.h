// Library start-up and tear-down, run by the DLL entry on process attach/detach.
// The top floor: the only code that knows every subsystem and connects them.
#pragma once

namespace library {

int library_attach();
int library_detach();
int network_state_init();
int server_mode_start();

}  // namespace library
