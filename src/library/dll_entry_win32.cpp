// The DLL entry: start-up on process attach, tear-down on detach, and at
// thread detach what the library kept for the ending thread.  Loading
// never fails on the library's account, so every call reports success.  A
// detach with lpvReserved set comes from a process that is ending, after
// Windows stopped its other threads wherever they were.
#include <windows.h>

#include "library/startup.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH)
    library::library_attach();
  else if (reason == DLL_THREAD_DETACH)
    library::library_thread_detach();
  else if (reason == DLL_PROCESS_DETACH)
    library::library_process_detach(reserved != nullptr);
  return TRUE;
}
