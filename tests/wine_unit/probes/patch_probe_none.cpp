// A module that does not import the script runtime at all.
#include <windows.h>

extern "C" __declspec(dllexport) DWORD probe_tick() { return GetTickCount(); }
