// Library start-up and tear-down, run by the DLL entry on process attach/detach.
#pragma once

namespace core {

int library_attach();
int library_detach();
int network_state_init();
int server_mode_start();

}  // namespace core
