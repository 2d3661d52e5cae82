// The settings file "ostrel_<exe>.cfg" in the working folder, read on demand.
#pragma once

namespace core {

// Reads the settings file when the last attempt lies 10 seconds or more back,
// handing every key/value pair to the redirection table.  0 when the file was
// read, 1 when it was not (too soon, or it cannot be opened).
int settings_reload();

}  // namespace core
