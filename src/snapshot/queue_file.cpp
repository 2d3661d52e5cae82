// Queue files are checked whole before anything in them is believed: a file
// cut short by a crash or a full disk, or one that is not ours, is refused.
#include "snapshot/queue_file.h"

#include <cstring>

#include "base/bytes.h"
#include "digest/md5.h"

namespace snapshot {
namespace {

// The check covers the head before it (check_at bytes) and the body.
void check_digest(const uint8_t* data, size_t check_at, const uint8_t* body, uint32_t body_length,
                  uint8_t* out) {
  digest::md5_context ctx;
  digest::md5_start(ctx);
  digest::md5_update(ctx, data, check_at);
  digest::md5_update(ctx, body, body_length);
  digest::md5_final(ctx);
  std::memcpy(out, ctx.digest, digest::md5_size);
}

}  // namespace

void format_queue_head(uint8_t* head, uint32_t sequence, uint32_t submitted,
                       uint32_t body_length, uint32_t writer, uint32_t refusals) {
  std::memcpy(head + qf_magic, queue_file_magic, sizeof queue_file_magic);
  bytes::store_u32le(head + qf_sequence, sequence);
  bytes::store_u32le(head + qf_submitted, submitted);
  bytes::store_u32le(head + qf_body_length, body_length);
  bytes::store_u32le(head + qf_writer, writer);
  bytes::store_u32le(head + qf_refusals, refusals);
  check_digest(head, qf_check, head + qf_body, body_length, head + qf_check);
}

size_t queue_head_size(const uint8_t* data) {
  if (std::memcmp(data + qf_magic, queue_file_magic, sizeof queue_file_magic) == 0) return qf_body;
  if (std::memcmp(data + qf_magic, queue_file_magic_v1, sizeof queue_file_magic_v1) == 0)
    return qf1_body;
  return 0;
}

queue_file_fault parse_queue_file(const uint8_t* data, size_t size, queue_file_view* out) {
  if (size < sizeof queue_file_magic) return queue_file_fault::short_file;
  const size_t head = queue_head_size(data);
  if (head == 0) return queue_file_fault::foreign;
  const size_t check_at = head == qf_body ? qf_check : qf1_check;
  if (size < head) return queue_file_fault::short_file;
  const uint32_t body_length = bytes::load_u32le(data + qf_body_length);
  if (body_length < queue_file_min_body || body_length > queue_file_max_body)
    return queue_file_fault::wrong_length;
  if (size < head + body_length) return queue_file_fault::short_file;
  if (size > head + body_length) return queue_file_fault::wrong_length;
  uint8_t check[digest::md5_size];
  check_digest(data, check_at, data + head, body_length, check);
  if (std::memcmp(check, data + check_at, sizeof check) != 0) return queue_file_fault::check_failed;
  out->sequence = bytes::load_u32le(data + qf_sequence);
  out->submitted = bytes::load_u32le(data + qf_submitted);
  out->body_length = body_length;
  out->writer = bytes::load_u32le(data + qf_writer);
  out->refusals = head == qf_body ? bytes::load_u32le(data + qf_refusals) : 0;
  out->head_size = head;
  out->body = data + head;
  return queue_file_fault::none;
}

const char* queue_file_fault_text(queue_file_fault fault) {
  switch (fault) {
    case queue_file_fault::none: return "sound";
    case queue_file_fault::short_file: return "cut short";
    case queue_file_fault::foreign: return "not a queue file";
    case queue_file_fault::wrong_length: return "length does not match";
    case queue_file_fault::check_failed: return "check digest does not match";
  }
  return "unknown";
}

}  // namespace snapshot
