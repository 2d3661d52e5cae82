// Settings file reading: a cadence of at most one attempt every 10 seconds,
// fixed-size line pieces, and the line rules that cut a key and a value.
//
// Bytes the file should not hold are read safely rather than refused: a NUL
// ends the text of its line (the rest of that line up to its line end is never
// looked at), other control or high bytes are plain characters of the key or
// value they fall in, and Windows' text mode ends the file at a Ctrl-Z byte.
// None of them can make a key that the redirection table acts on by accident.
#include "core/settings_file.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "base/spacing.h"
#include "core/process_state.h"
#include "platform/platform.h"

namespace core {
namespace {

constexpr uint32_t reload_interval_ms = 10000;

// The last attempt, a stamp of the monotonic clock (a date set back must not
// keep the file unread); claimed with a compare-and-swap, so threads that ask
// together read the file once between them.
std::atomic<uint32_t> last_attempt{0};
std::atomic<settings_handler> receiver_of_pairs{nullptr};

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_line_end(char c) { return c == '\r' || c == '\n'; }

}  // namespace

int settings_parse_line(char* line, char** key, char** value) {
  char* start = line;
  while (is_blank(*start)) ++start;
  if (*start == '#' || *start == '\0' || is_line_end(*start)) return 1;

  char* equals = std::strchr(start, '=');
  char* key_end = start;
  while (*key_end && *key_end != '=' && !is_blank(*key_end)) ++key_end;
  *key_end = '\0';

  char* text = equals ? equals + 1 : key_end + std::strlen(key_end);
  while (is_blank(*text)) ++text;
  char* end = text;
  while (*end && !is_line_end(*end)) ++end;
  while (end > text && is_blank(end[-1])) --end;
  *end = '\0';

  *key = start;
  *value = text;
  return 0;
}

void settings_read_stream(FILE* file, settings_handler handler) {
  char line[settings_line_size];
  while (std::fgets(line, sizeof line, file)) {
    char* key = nullptr;
    char* value = nullptr;
    if (settings_parse_line(line, &key, &value) == 0) handler(key, value);
  }
}

int settings_reload() {
  settings_handler receiver = receiver_of_pairs.load();
  if (!receiver) return 1;
  if (!spacing::claim(last_attempt, platform::monotonic_ms(), reload_interval_ms)) return 1;
  FILE* file = platform::open_file(process.settings_file_name, "r");
  if (!file) return 1;
  settings_read_stream(file, receiver);
  std::fclose(file);
  return 0;
}

void settings_forget_last_attempt() { last_attempt = 0; }

void settings_set_handler(settings_handler receiver) { receiver_of_pairs = receiver; }

}  // namespace core
