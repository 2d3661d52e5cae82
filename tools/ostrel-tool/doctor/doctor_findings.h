// The doctor's diagnosis: what it read (the game folder's files, the per-user
// folder's, the registry values), and the findings built from that, one per
// thing checked, each marked ok, warning or problem, a problem with a hint.
//
// Reading and judging are apart: gather_folder reads (doctor_gather.cpp), and
// diagnose judges bytes already read, so that any content of any file meets
// the same judging code in the tests and the fuzz target.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/console_text.h"

namespace doctor {

enum class level { ok, warning, problem };

struct finding {
  level mark = level::ok;
  std::string topic;  // "executable", "ostrel.dll", "per-user folder", ...
  std::string text;
  std::string hint;   // what to do; every problem has one
  std::vector<std::string> details;  // lines shown below it (a log's tail)
};

// A file read at most to a limit: absent, unreadable, or its first bytes.
struct file_read {
  bool present = false;
  std::string error;           // why a present file could not be read
  std::vector<uint8_t> bytes;  // at most the reader's limit
  uint64_t size = 0;           // the whole file's size
  int64_t modified = -1;       // seconds since 1970, -1 when unknown
};

struct executable_read {
  std::string name;  // file name in the game folder
  std::string path;  // full path (its mode is taken from it)
  file_read file;
  bool backup_present = false;
  std::string settings_name;   // its settings file in the game folder
  file_read settings;
  std::string log_name;        // today's log file, relative to the game folder
  file_read log;               // its last bytes (bytes) and whole size
  std::string virtual_log_path;  // the VirtualStore copy, when the folder is redirected
  file_read virtual_log;
  file_read cache[2];          // look-up cache files 0 and 1 of this executable
  std::string cache_name[2];
};

// A registry value as the platform hands it over.
struct registry_read {
  bool present = false;
  uint32_t type = 0;
  std::vector<uint8_t> data;  // empty when larger than 1 MiB
  uint32_t size = 0;          // the whole value's size
};

struct registry_values {
  bool user_key = false, machine_key = false;  // the product key exists
  registry_read browser_mode_user, browser_mode_machine;
  registry_read ranking_retail, ranking_mods;
  registry_read opmode, opvdata;
  std::string opvdata_image;  // the image name of the process the record names ("" none)
};

// The statistics queue folder of the per-user folder, as a restarting server
// would find it.
struct queue_read {
  bool present = false;          // the folder exists
  std::string folder;
  std::string error;             // why it could not be listed
  size_t waiting = 0;            // sound queue files: snapshots still to be sent
  uint32_t oldest_submitted = 0; // the oldest one's submission date, 0 unknown
  size_t set_aside = 0;          // damaged or foreign files, never sent
};

struct folder_read {
  std::string folder;            // as given
  bool folder_exists = false;
  bool logs_folder = false;      // logs/ostrel exists in the game folder
  bool virtual_logs_folder = false;
  std::string virtual_store;     // the folder's VirtualStore copy ("" when not redirected)
  std::vector<executable_read> executables;  // every *.exe but the tool itself
  std::string listing_error;     // why the folder could not be listed to its end
  size_t unspellable_executables = 0;  // *.exe names the system's code page cannot spell
  file_read dll;
  std::string user_folder;       // "" when the platform cannot tell
  bool user_folder_exists = false;
  std::string user_folder_write_error;  // "" when a file could be written and removed
  file_read ranked;
  registry_values registry;
  std::string provider_path;     // the provider ID file a server would use ("" none)
  file_read provider;
  queue_read queue;  // judged for dedicated servers only (doctor_server.cpp)
};

// How many log lines the log finding shows (--log N).
inline constexpr size_t default_log_lines = 20;

// The findings of everything read, as at the date now (seconds since 1970).
std::vector<finding> diagnose(const folder_read& read, int64_t now,
                              size_t log_lines = default_log_lines);

// Parts of diagnose, one file each.
void executable_findings(const folder_read& read, std::vector<finding>& out);
void library_findings(const folder_read& read, std::vector<finding>& out);
void user_file_findings(const folder_read& read, int64_t now, std::vector<finding>& out);
void registry_findings(const registry_values& values, std::vector<finding>& out);
void settings_findings(const executable_read& exe, std::vector<finding>& out);
void log_findings(const folder_read& read, const executable_read& exe, size_t lines,
                  std::vector<finding>& out);
void server_findings(const folder_read& read, int64_t now, std::vector<finding>& out);

// The folder a 32-bit program without a manifest writes to in place of
// folder (absolute, "C:\\..."), when folder lies under Program Files:
// "<local_appdata>\\VirtualStore\\<folder after its drive>"; "" otherwise.
std::string virtual_store_folder(const std::string& folder, const std::string& local_appdata);

// The game executables that still import WS2_32.dll (names in the folder).
std::vector<std::string> unpatched_executables(const folder_read& read);

bool is_server(const executable_read& exe);
// An executable that imports WS2_32.dll or ostrel.dll, as the patcher reads it.
bool is_game_executable(const executable_read& exe);
// The entries a verified lookup answer's payload (in clear) installs.
size_t lookup_payload_entries(const uint8_t* payload, size_t size);
// "3 h 12 min" and the like.
std::string age_text(int64_t seconds);
// Text safe on a console: bytes outside printable ASCII as "\xNN".
using console::printable;

}  // namespace doctor
