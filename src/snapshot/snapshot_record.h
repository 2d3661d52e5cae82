// The snapshot record: one submitted statistics snapshot, copied by value into
// and out of the queue.  Its buffer holds the header reserve, then the body.
#pragma once
#include <cstdint>

namespace snapshot {

inline constexpr uint32_t header_reserve_size = 1000;  // what the submitter sets

struct snapshot_record {
  uint8_t* buffer = nullptr;   // owned by whoever holds the record
  uint32_t header_offset = 0;  // where the HTTP header starts in the buffer
  uint32_t header_length = 0;
  uint32_t header_reserve = 0;  // bytes in front of the body
  uint32_t body_length = 0;     // 64 + the script's data length
  uint32_t sequence = 0;        // order of submission; 0 marks an empty slot
  // Beyond the queue's order: the date of submission and how often the
  // service refused it (both kept in the queue file, so that they survive a
  // restart), its queue file's number (-1: kept in memory only), and whether
  // that file is marked as being sent.
  uint32_t submitted = 0;
  uint32_t refusals = 0;
  int32_t file_number = -1;
  bool file_sending = false;
};

// Frees the buffer (allocated by build_snapshot) and empties the record.
void release_snapshot(snapshot_record& record);

}  // namespace snapshot
