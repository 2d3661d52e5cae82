// The library's queue folder as an operator sees it: every file there, what
// it is (a queued snapshot, one set aside, a temporary left by a crash,
// something else) and, for a sound queue file, its head and body.  Shared by
// "snapshot queue" and anything else that reports on a server's state.
#pragma once
#include <cstdint>
#include <string>
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
  std::vector<uint8_t> body;  // the snapshot body of a sound file
};

// The queue folder itself, or the per-user folder that holds it
// ("...\Ostrel"), is accepted as folder.  Files in name order, sound ones
// and others alike; false with a reason when the folder cannot be listed.
bool read_queue_folder(const std::string& folder, std::string& queue_folder,
                       std::vector<queued_file>& out, std::string& error);

}  // namespace tool
