// The name hook: what the exported gethostbyname does.  Retired service hosts
// are answered from the address table or rewritten to replacement hosts; every
// other name reaches the real gethostbyname unchanged or with its retired
// domain suffix swapped.
#pragma once

namespace redirect {

// Same contract as gethostbyname: a host entry (a redirect::host_entry built
// in the thread's answer block, or the real resolver's hostent), or null with
// the real library's error state.
void* name_hook(const char* name);

}  // namespace redirect
