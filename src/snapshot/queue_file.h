// The queue file: one queued snapshot kept in the per-user folder, so that a
// restart of the server does not lose it.  Little-endian, 40 bytes before the
// snapshot body:
//
//   0   4  magic and version "HSQ2"
//   4   4  sequence (the queue's order when it was written)
//   8   4  date of submission, whole seconds since 1970
//  12   4  body length (at least 64, at most queue_file_max_body)
//  16   4  identifier of the process that wrote it, and owns it while it runs
//  20   4  how often the service has refused the snapshot, so that a server
//          that restarts often cannot give a snapshot it refuses new tries
//  24  16  check: MD5 of bytes 0-23 and the body
//  40   n  the snapshot body exactly as it was built (the HTTP header is made
//          again when it is sent)
//
// Files of the first version, "HSQ1", are still read: they lack the refusal
// count (read as none), so their check is at 20 and their body at 36.
#pragma once
#include <cstddef>
#include <cstdint>

namespace snapshot {

inline constexpr uint8_t queue_file_magic[4] = {'H', 'S', 'Q', '2'};
inline constexpr uint8_t queue_file_magic_v1[4] = {'H', 'S', 'Q', '1'};
inline constexpr size_t qf_magic = 0;
inline constexpr size_t qf_sequence = 4;
inline constexpr size_t qf_submitted = 8;
inline constexpr size_t qf_body_length = 12;
inline constexpr size_t qf_writer = 16;
inline constexpr size_t qf_refusals = 20;
inline constexpr size_t qf_check = 24;
inline constexpr size_t qf_body = 40;
inline constexpr size_t qf1_check = 20;
inline constexpr size_t qf1_body = 36;
inline constexpr uint32_t queue_file_min_body = 64;
inline constexpr uint32_t queue_file_max_body = 4u << 20;

enum class queue_file_fault { none, short_file, foreign, wrong_length, check_failed };

struct queue_file_view {
  uint32_t sequence = 0;
  uint32_t submitted = 0;
  uint32_t body_length = 0;
  uint32_t writer = 0;
  uint32_t refusals = 0;
  size_t head_size = qf_body;     // where the body starts: qf_body, or qf1_body
  const uint8_t* body = nullptr;  // inside the bytes given to parse_queue_file
};

// Writes the qf_body bytes in front of a body of body_length bytes that
// starts at head + qf_body.
void format_queue_head(uint8_t* head, uint32_t sequence, uint32_t submitted, uint32_t body_length,
                       uint32_t writer, uint32_t refusals);
// The size of the head of a file that starts with these bytes (at least four):
// qf_body, qf1_body, or 0 when it is not a queue file.
size_t queue_head_size(const uint8_t* data);
// Reads and checks a whole file; queue_file_fault::none and *out when sound.
queue_file_fault parse_queue_file(const uint8_t* data, size_t size, queue_file_view* out);
// "short", "not a queue file", ...: for log lines and the tool.
const char* queue_file_fault_text(queue_file_fault fault);

}  // namespace snapshot
