// Queue files are checked whole before anything in them is believed: a file
// cut short by a crash or a full disk, or one that is not ours, is refused.
#include "snapshot/queue_file.h"

#include <cstring>

#include "base/bytes.h"
#include "digest/md5.h"

namespace snapshot {
namespace {

void check_digest(const uint8_t* data, const uint8_t* body, uint32_t body_length, uint8_t* out) {
  digest::md5_context ctx;
  digest::md5_start(ctx);
  digest::md5_update(ctx, data, qf_check);
  digest::md5_update(ctx, body, body_length);
  digest::md5_final(ctx);
  std::memcpy(out, ctx.digest, digest::md5_size);
}

}  // namespace

void format_queue_head(uint8_t* head, uint32_t sequence, uint32_t submitted,
                       uint32_t body_length, uint32_t writer) {
  std::memcpy(head + qf_magic, queue_file_magic, sizeof queue_file_magic);
  bytes::store_u32le(head + qf_sequence, sequence);
  bytes::store_u32le(head + qf_submitted, submitted);
  bytes::store_u32le(head + qf_body_length, body_length);
  bytes::store_u32le(head + qf_writer, writer);
  check_digest(head, head + qf_body, body_length, head + qf_check);
}

queue_file_fault parse_queue_file(const uint8_t* data, size_t size, queue_file_view* out) {
  if (size < sizeof queue_file_magic) return queue_file_fault::short_file;
  if (std::memcmp(data + qf_magic, queue_file_magic, sizeof queue_file_magic) != 0)
    return queue_file_fault::foreign;
  if (size < qf_body) return queue_file_fault::short_file;
  const uint32_t body_length = bytes::load_u32le(data + qf_body_length);
  if (body_length < queue_file_min_body || body_length > queue_file_max_body)
    return queue_file_fault::wrong_length;
  if (size < qf_body + body_length) return queue_file_fault::short_file;
  if (size > qf_body + body_length) return queue_file_fault::wrong_length;
  uint8_t check[digest::md5_size];
  check_digest(data, data + qf_body, body_length, check);
  if (std::memcmp(check, data + qf_check, sizeof check) != 0) return queue_file_fault::check_failed;
  out->sequence = bytes::load_u32le(data + qf_sequence);
  out->submitted = bytes::load_u32le(data + qf_submitted);
  out->body_length = body_length;
  out->writer = bytes::load_u32le(data + qf_writer);
  out->body = data + qf_body;
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
