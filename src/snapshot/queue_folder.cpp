// Queue files.  The 36 bytes of the file's head are written into the header
// reserve just in front of the body, so that head and body go out as one run
// without a copy; this happens only while no other thread holds the record
// (before it is queued), as the worker writes its HTTP header there later.
#include "snapshot/queue_folder.h"

#include <atomic>
#include <cstdio>
#include <new>

#include "base/text.h"
#include "core/log.h"
#include "core/user_files.h"
#include "platform/platform.h"
#include "snapshot/queue_file.h"
#include "snapshot/snapshot_queue.h"

namespace snapshot {
namespace {

static_assert(queue_file_count <= 32, "file numbers in use are one bit each");
static_assert(qf_body <= header_reserve_size, "the file head fits into the header reserve");

std::atomic<uint32_t> numbers_in_use{0};
std::atomic<bool> fallback_logged{false};

int file_name(char* out, size_t size, int number) {
  return text::format_bounded(out, size, "%s\\queued-%02d.hsq", queue_folder_name, number) > 0
             ? 0
             : 1;
}

bool claim(int number) {
  const uint32_t bit = 1u << number;
  return (numbers_in_use.fetch_or(bit) & bit) == 0;
}
void release(int number) { numbers_in_use.fetch_and(~(1u << number)); }

void log_fallback_once() {
  if (fallback_logged.exchange(true)) return;
  char folder[core::user_path_size];
  if (core::user_file_path(folder, queue_folder_name) != 0) folder[0] = '\0';
  core::log_printf(
      "SNAPSHOT: cannot write the queue folder '%s': queued snapshots are kept in memory only\r\n",
      folder);
}

// Writes the record's file under its number; 0 on success.
int write_file(const snapshot_record& record, int number) {
  if (record.header_reserve < qf_body || record.body_length > queue_file_max_body) return 1;
  char name[core::user_name_size];
  char folder[core::user_path_size];
  if (file_name(name, sizeof name, number) != 0 ||
      core::user_file_path(folder, queue_folder_name) != 0)
    return 1;
  platform::create_folder(folder);
  uint8_t* head = record.buffer + record.header_reserve - qf_body;
  format_queue_head(head, record.sequence, record.submitted, record.body_length,
                    platform::process_id());
  return core::replace_user_file(name, head, qf_body + record.body_length);
}

bool file_exists(int number) {
  char name[core::user_name_size];
  char path[core::user_path_size];
  return file_name(name, sizeof name, number) == 0 && core::user_file_path(path, name) == 0 &&
         platform::file_status(path) == 0;
}

struct found_file {
  snapshot_record record;
  uint32_t stored_sequence;
};

// Another server process of this user that still runs keeps its own files:
// taking them would send its snapshots twice.  An identifier that a new
// process has taken since only delays those files to a later start.
bool writer_runs(uint32_t writer) {
  char image[core::user_path_size];
  return writer != platform::process_id() &&
         platform::process_image_name(writer, image, sizeof image) == 0;
}

// Reads file `number` into a record whose body sits behind the usual header
// reserve.  0 when sound; 1 when absent or another running process's; 2 when
// set aside.
int read_file(int number, found_file* out) {
  char name[core::user_name_size];
  char path[core::user_path_size];
  if (file_name(name, sizeof name, number) != 0 || core::user_file_path(path, name) != 0 ||
      platform::file_status(path) != 0)
    return 1;
  FILE* file = platform::open_file(path, "rb");
  if (!file) return 1;
  // One byte more than the largest sound file, so that a longer one shows.
  const size_t capacity = qf_body + queue_file_max_body + 1;
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  std::rewind(file);
  const size_t wanted = size < 0 ? 0 : static_cast<size_t>(size) < capacity ? static_cast<size_t>(size) : capacity;
  const uint32_t reserve = header_reserve_size;
  uint8_t* buffer = new (std::nothrow) uint8_t[reserve - qf_body + wanted + 1];
  size_t got = 0;
  if (buffer) got = std::fread(buffer + reserve - qf_body, 1, wanted, file);
  std::fclose(file);
  if (!buffer) return 1;

  queue_file_view view;
  const queue_file_fault fault = parse_queue_file(buffer + reserve - qf_body, got, &view);
  if (fault != queue_file_fault::none) {
    delete[] buffer;
    char aside[core::user_path_size];
    const bool named = text::format_bounded(aside, sizeof aside, "%s.bad", path) > 0;
    if (!named || platform::replace_file(path, aside) != 0) platform::remove_file(path);
    core::log_printf("SNAPSHOT: queue file %s set aside (%s), never to be sent\r\n", name,
                     queue_file_fault_text(fault));
    return 2;
  }
  if (writer_runs(view.writer)) {
    delete[] buffer;
    return 1;
  }
  out->record.buffer = buffer;
  out->record.header_reserve = reserve;
  out->record.body_length = view.body_length;
  out->record.submitted = view.submitted;
  out->record.file_number = number;
  out->stored_sequence = view.sequence;
  return 0;
}

}  // namespace

int keep_snapshot(snapshot_record& record) {
  record.submitted = platform::now_seconds();
  record.file_number = -1;
  for (int number = 0; number < queue_file_count; ++number) {
    if (!claim(number)) continue;
    if (file_exists(number)) {  // another process's, or one not yet restored
      release(number);
      continue;
    }
    if (write_file(record, number) == 0) {
      record.file_number = number;
      return 0;
    }
    release(number);
    break;
  }
  log_fallback_once();
  return 1;
}

void forget_snapshot(snapshot_record& record) {
  const int number = record.file_number;
  if (number < 0 || number >= queue_file_count) return;
  char name[core::user_name_size];
  char path[core::user_path_size];
  if (file_name(name, sizeof name, number) == 0 && core::user_file_path(path, name) == 0)
    platform::remove_file(path);
  record.file_number = -1;
  release(number);
}

int restore_queue() {
  if (!snapshot_lock) return 0;  // no queue to restore into: the files wait
  found_file found[queue_file_count];
  int count = 0;
  for (int number = 0; number < queue_file_count; ++number) {
    if (!claim(number)) continue;
    if (read_file(number, &found[count]) == 0)
      ++count;
    else
      release(number);
  }
  // Oldest first, as the last process numbered them (ten to twenty-four
  // entries: an insertion sort).
  for (int i = 1; i < count; ++i) {
    const found_file moving = found[i];
    int j = i;
    for (; j > 0 && moving.stored_sequence < found[j - 1].stored_sequence; --j)
      found[j] = found[j - 1];
    found[j] = moving;
  }
  for (int i = 0; i < count; ++i) {
    snapshot_record& record = found[i].record;
    record.sequence = next_sequence();
    // The new number goes into the file too, so that a second restart keeps
    // the order; a file that cannot be rewritten keeps its snapshot in memory.
    if (write_file(record, record.file_number) != 0) {
      forget_snapshot(record);
      log_fallback_once();
    }
    if (enqueue(&record) != 0) discard_snapshot(record, "queue full of newer snapshots");
  }
  core::log_printf("SNAPSHOT: %d queued snapshot%s restored from the queue folder\r\n", count,
                   count == 1 ? "" : "s");
  return count;
}

void queue_folder_reset() {
  numbers_in_use.store(0);
  fallback_logged.store(false);
}

}  // namespace snapshot
