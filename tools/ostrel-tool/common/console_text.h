// Text taken from a file or the registry, made safe to print on a console:
// a name read from a hostile executable must not carry line breaks or
// terminal control sequences into the tool's output.
#pragma once
#include <string>

namespace console {

// Bytes outside printable ASCII as "\xNN".
std::string printable(const std::string& text);

}  // namespace console
