// The library's queue folder as an operator or the doctor sees it: every file
// there, what it is (a queued snapshot, one set aside, a temporary left by a
// crash, something else) and, for a sound queue file, its head and body.
// Shared by "snapshot queue" and the doctor.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tool {

struct queued_file {
  std::string name;
  uint64_t size = 0;
  // "queued" (sound), "set aside", "temporary", "unreadable", "other", or
  // for a queue-file name that fails its check, why.
  std::string state;
  bool sound = false;
  uint32_t sequence = 0;
  uint32_t submitted = 0;
  uint32_t body_length = 0;
};

// True for the names the library reads back: "queued-NN.hsq", NN from 00 to
// 23, in any case (the players' file systems ignore it).
bool queue_file_name(const std::string& name);

// The folder's files in name order: the queue folder itself, or the per-user
// folder that holds it ("...\Ostrel"), is accepted as folder; out.folder names
// the one listed.  False with a reason when it cannot be listed to its end.
struct queue_listing {
  std::string folder;
  std::vector<std::pair<std::string, std::filesystem::path>> files;  // shown name, path
};
bool list_queue_folder(const std::string& folder, queue_listing& out, std::string& error);

// Calls each(file, body) for every listed file in order; body points at the
// snapshot body of a sound file (null otherwise) and lives only during the
// call, so a folder of any size holds one body at a time.
using queued_each = std::function<void(const queued_file& file, const uint8_t* body)>;
void read_queue_files(const queue_listing& listing, const queued_each& each);

}  // namespace tool
