// Modification detection over the text after "+modPath mods/".
#include "core/mod_kind.h"

#include <cstring>

#include "base/text.h"
#include "platform/platform.h"

namespace core {
namespace {
bool equals_ignoring_case(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (text::ascii_lower(*a) != text::ascii_lower(*b)) return false;
  return *a == *b;
}
}  // namespace

int detect_mod_kind(const char* command_line) {
  static const char marker[] = "+modPath mods/";
  const char* found = std::strstr(command_line, marker);
  if (!found) return 1;
  const char* rest = found + sizeof marker - 1;
  if (equals_ignoring_case(rest, "bf2") || equals_ignoring_case(rest, "xpack")) return 1;
  if (std::strncmp(rest, "bf2 ", 4) == 0 || std::strncmp(rest, "xpack ", 6) == 0) return 1;
  return 2;
}

int detect_mod_kind() { return detect_mod_kind(platform::command_line()); }

}  // namespace core
