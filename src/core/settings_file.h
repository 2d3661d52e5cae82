// The settings file "ostrel_<exe>.cfg" in the working folder, read on demand:
// "key = value" lines handed one by one to the handler that start-up names
// (the redirection table's).
#pragma once
#include <cstddef>
#include <cstdio>

namespace core {

// Receives one key/value pair; the value may be changed in place.
using settings_handler = int (*)(const char* key, char* value);

// Names who receives the pairs that settings_reload reads.  Until a handler is
// named the file is not read at all.
void settings_set_handler(settings_handler receiver);

// Reads the settings file when the last attempt lies 10 seconds or more back,
// handing every key/value pair to the handler.  0 when the file was read, 1
// when it was not (no handler, too soon, or it cannot be opened).
int settings_reload();

// Lines are read into a buffer of this size: a longer line arrives in pieces,
// and each piece counts as a line of its own.
inline constexpr size_t settings_line_size = 1000;

// Cuts one line (as read, line end included) into key and value in place.
// 0 and both set when the line holds a pair; 1 for a comment or blank line.
int settings_parse_line(char* line, char** key, char** value);

// Reads every line of an open stream and hands each pair to handler, in order.
void settings_read_stream(FILE* file, settings_handler handler);

// Forgets the last attempt, so that the next settings_reload reads at once.
void settings_forget_last_attempt();

}  // namespace core
