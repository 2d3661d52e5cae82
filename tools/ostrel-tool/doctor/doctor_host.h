// What the doctor asks of the system it runs on besides the library's
// platform seam; Windows calls stay in doctor_host_win32.cpp.
#pragma once
#include <string>

namespace doctor {

// True when this process is the only one attached to its console: Explorer
// started it in a console of its own (a double-click), not a command prompt.
bool sole_console_process();

// The current user's local application-data folder ("" where there is none).
std::string local_appdata_folder();

// Readies the system's sockets for this process (Winsock wants its start-up
// call before any other); false when it refuses.
bool sockets_start();

// A path as the tool's file calls take it (the Windows separators the library
// uses become "/" natively).
std::string native_path(const std::string& path);

}  // namespace doctor
