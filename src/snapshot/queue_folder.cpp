// Queue files.  The head of a file is written into the header reserve just in
// front of the body, so that head and body go out as one run without a copy;
// this happens only while no other thread holds the record (before it is
// queued, or while the worker holds it between two uploads; the worker's HTTP
// header is made again for every upload).
//
// Every file is first written whole under a temporary name of its writer's own
// and flushed, and only then moved onto the name that shows it: a power cut
// leaves either the old state or the new one, never a half-written file under
// a good name.  Names are claimed by exclusive moves, so two processes that
// want one number, or one dead writer's file, cannot both have it.
#include "snapshot/queue_folder.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/bytes.h"
#include "base/text.h"
#include "core/log.h"
#include "core/random.h"
#include "core/user_files.h"
#include "platform/platform.h"
#include "snapshot/queue_file.h"
#include "snapshot/snapshot_queue.h"

namespace snapshot {
namespace {

static_assert(queue_file_count <= 32, "file numbers in use are one bit each");
static_assert(qf_body <= header_reserve_size, "the file head fits into the header reserve");

using path_text = char[core::user_path_size];

std::atomic<uint32_t> numbers_in_use{0};
std::atomic<bool> fallback_logged{false};
std::atomic<bool> mark_failure_logged{false};

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

// ---- Names ------------------------------------------------------------------

enum class name_kind { other, waiting, take, send, temporary };

struct parsed_name {
  name_kind kind = name_kind::other;
  int number = -1;   // waiting files
  uint32_t pid = 0;  // the others
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f'); }

parsed_name parse_name(const char* name) {
  parsed_name out;
  if (std::strncmp(name, "queued-", 7) == 0) {
    const char* p = name + 7;
    if (is_digit(p[0]) && is_digit(p[1]) && std::strcmp(p + 2, ".hsq") == 0) {
      const int number = (p[0] - '0') * 10 + (p[1] - '0');
      if (number < queue_file_count) {
        out.kind = name_kind::waiting;
        out.number = number;
      }
    }
    return out;
  }
  if (std::strncmp(name, "queued.", 7) != 0) return out;
  const char* p = name + 7;
  uint64_t pid = 0;
  int digits = 0;
  for (; is_digit(*p) && digits < 10; ++p, ++digits) pid = pid * 10 + static_cast<uint64_t>(*p - '0');
  if (digits == 0 || pid > UINT32_MAX || *p != '.') return out;
  ++p;
  name_kind kind = name_kind::other;
  if (std::strcmp(p, "take") == 0) {
    kind = name_kind::take;
  } else if (std::strcmp(p, "send") == 0) {
    kind = name_kind::send;
  } else {
    int hex = 0;
    while (hex < 8 && is_hex(p[hex])) ++hex;
    if (hex == 8 && std::strcmp(p + 8, ".tmp") == 0) kind = name_kind::temporary;
  }
  if (kind == name_kind::other) return out;
  out.kind = kind;
  out.pid = static_cast<uint32_t>(pid);
  return out;
}

int folder_path(char* out) {
  if (core::user_file_path(out, queue_folder_name) != 0) return 1;
  platform::create_folder(out);
  return 0;
}

// "<folder>\queued-NN.hsq", and this process's "<folder>\queued.<pid>.<what>".
int number_path(char* out, int number) {
  path_text folder;
  return folder_path(folder) == 0 &&
                 text::format_bounded(out, core::user_path_size, "%s\\queued-%02d.hsq", folder,
                                      number) > 0
             ? 0
             : 1;
}
int own_path(char* out, const char* what) {
  path_text folder;
  return folder_path(folder) == 0 &&
                 text::format_bounded(out, core::user_path_size, "%s\\queued.%lu.%s", folder,
                                      static_cast<unsigned long>(platform::process_id()), what) > 0
             ? 0
             : 1;
}
int take_path(char* out) { return own_path(out, "take"); }
int send_path(char* out) { return own_path(out, "send"); }

// ---- Writing ----------------------------------------------------------------

// The record's bytes (head as it stands now, owned by this process) under a
// new temporary name of this process's own, on the disk; 0 and its path.
int write_temporary(snapshot_record& record, char* temporary) {
  if (!record.buffer || record.header_reserve < qf_body || record.body_length > queue_file_max_body)
    return 1;
  uint8_t* head = record.buffer + record.header_reserve - qf_body;
  format_queue_head(head, record.sequence, record.submitted, record.body_length,
                    platform::process_id(), record.refusals);
  path_text folder;
  uint8_t salt[4];
  core::random_bytes(salt, sizeof salt);
  if (folder_path(folder) != 0 ||
      text::format_bounded(temporary, core::user_path_size, "%s\\queued.%lu.%08lx.tmp", folder,
                           static_cast<unsigned long>(platform::process_id()),
                           static_cast<unsigned long>(bytes::load_u32le(salt))) <= 0)
    return 1;
  return platform::write_new_file(temporary, head, qf_body + record.body_length);
}

// Moves the file at from onto a free number, the preferred one first; the
// number, claimed in this process, or -1 when none could be had.
int place(const char* from, int preferred) {
  for (int i = -1; i < queue_file_count; ++i) {
    const int number = i < 0 ? preferred : i;
    if (number < 0 || number >= queue_file_count || (i >= 0 && number == preferred)) continue;
    if (!claim(number)) continue;
    path_text to;
    if (number_path(to, number) == 0 && platform::move_file_exclusive(from, to) == 0) return number;
    release(number);
  }
  return -1;
}

// ---- Reading ----------------------------------------------------------------

struct found_file {
  snapshot_record record;
  uint32_t stored_sequence = 0;
  int number = -1;  // a waiting file's number; -1 for a take file
  bool own_take = false;
  char path[core::user_path_size] = {};
};

void set_aside(const char* path, const char* name, const char* why) {
  path_text aside;
  const bool named = text::format_bounded(aside, sizeof aside, "%s.bad", path) > 0;
  if (!named || platform::replace_file(path, aside) != 0) platform::remove_file(path);
  core::log_printf("SNAPSHOT: queue file %s\\%s set aside (%s), never to be sent\r\n",
                   queue_folder_name, name, why);
}

// Another server process of this user that still runs keeps its own files:
// taking them would send its snapshots twice.  An identifier that a new
// process has taken since only delays those files to a later start.  This
// process's own identifier at start-up is a former process's.
bool process_runs(uint32_t pid) {
  char image[core::user_path_size];
  return pid != platform::process_id() && platform::process_image_name(pid, image, sizeof image) == 0;
}

enum class read_result { sound, absent, other_writer, set_aside };

// Reads the file at path into a record whose body sits behind the usual
// header reserve.  A waiting file whose writer still runs is left to it.
read_result read_file(const char* path, const char* name, bool check_writer, found_file* out) {
  FILE* file = platform::open_file(path, "rb");
  if (!file) return read_result::absent;
  // One byte more than the largest sound file, so that a longer one shows.
  const size_t capacity = qf_body + queue_file_max_body + 1;
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  std::rewind(file);
  const size_t wanted = size < 0                                 ? 0
                        : static_cast<size_t>(size) < capacity ? static_cast<size_t>(size)
                                                               : capacity;
  uint8_t magic[sizeof queue_file_magic] = {};
  size_t got = std::fread(magic, 1, sizeof magic < wanted ? sizeof magic : wanted, file);
  size_t head = got == sizeof magic ? queue_head_size(magic) : 0;
  if (head == 0) head = qf_body;  // read whole all the same, to be refused whole
  const uint32_t reserve = header_reserve_size;
  uint8_t* buffer = new (std::nothrow) uint8_t[reserve - head + wanted + 1];
  if (buffer) {
    uint8_t* at = buffer + reserve - head;
    std::memcpy(at, magic, got);
    if (wanted > got) got += std::fread(at + got, 1, wanted - got, file);
  }
  std::fclose(file);
  if (!buffer) return read_result::absent;

  queue_file_view view;
  const queue_file_fault fault = parse_queue_file(buffer + reserve - head, got, &view);
  if (fault != queue_file_fault::none) {
    delete[] buffer;
    set_aside(path, name, queue_file_fault_text(fault));
    return read_result::set_aside;
  }
  if (check_writer && process_runs(view.writer)) {
    delete[] buffer;
    return read_result::other_writer;
  }
  out->record.buffer = buffer;
  out->record.header_reserve = reserve;
  out->record.body_length = view.body_length;
  out->record.submitted = view.submitted;
  out->record.refusals = view.refusals;
  out->stored_sequence = view.sequence;
  text::copy_bounded(out->path, sizeof out->path, path);
  return read_result::sound;
}

// A file a former process was uploading when it stopped: the service may
// have it, so it is never sent again; its drop is logged like any other.
void drop_interrupted_send(const char* path, const char* name) {
  FILE* file = platform::open_file(path, "rb");
  uint8_t head[qf_body] = {};
  const size_t got = file ? std::fread(head, 1, sizeof head, file) : 0;
  if (file) std::fclose(file);
  if (got >= qf1_body && queue_head_size(head) != 0)
    core::log_printf(
        "SNAPSHOT: snapshot %lu (%lu bytes) discarded: it was being sent when its server "
        "stopped (%s), and the service may have it\r\n",
        static_cast<unsigned long>(bytes::load_u32le(head + qf_sequence)),
        static_cast<unsigned long>(bytes::load_u32le(head + qf_body_length)), name);
  else
    core::log_printf("SNAPSHOT: queue file %s\\%s discarded: it was being sent when its server "
                     "stopped\r\n",
                     queue_folder_name, name);
  platform::remove_file(path);
}

// ---- Restore ----------------------------------------------------------------

inline constexpr int restore_capacity = queue_file_count + 8;

struct restore_scan {
  char names[restore_capacity][40];
  parsed_name parsed[restore_capacity];
  int count = 0;
  int left_over = 0;  // candidates beyond the capacity: they wait for a later start
  char folder[core::user_path_size];
};

void scan_entry(const char* name, bool is_folder, void* context) {
  restore_scan& scan = *static_cast<restore_scan*>(context);
  if (is_folder) return;
  const parsed_name parsed = parse_name(name);
  if (parsed.kind == name_kind::other) return;
  if (parsed.kind == name_kind::waiting ? (numbers_in_use.load() >> parsed.number) & 1u
                                        : process_runs(parsed.pid))
    return;  // this process's own, or a running process's
  if (scan.count == restore_capacity) {
    ++scan.left_over;
    return;
  }
  text::copy_bounded(scan.names[scan.count], sizeof scan.names[scan.count], name);
  scan.parsed[scan.count++] = parsed;
}

// Takes a found file over: its new bytes (renumbered, owned by this process)
// are written first, so that a full disk leaves the file as it was; then the
// file moves onto this process's take name, which only one process can do;
// then the new bytes replace it there and it goes back among the waiting.
enum class take_result { taken, taken_in_memory, other_first, left };

take_result take_over(found_file& f) {
  snapshot_record& record = f.record;
  path_text temporary, take;
  if (take_path(take) != 0 || write_temporary(record, temporary) != 0) return take_result::left;
  if (!f.own_take && platform::move_file_exclusive(f.path, take) != 0) {
    platform::remove_file(temporary);
    return take_result::other_first;
  }
  if (platform::replace_file_durable(temporary, take) != 0) {
    platform::remove_file(temporary);
    if (!f.own_take) platform::move_file_exclusive(take, f.path);
    return take_result::left;  // as it was (or, failing that, a take file of this process's)
  }
  const int number = place(take, f.number);
  if (number < 0) {
    // Every number is another process's: kept in a take file, the snapshot
    // would come back after it was sent.
    platform::remove_file(take);
    log_fallback_once();
    return take_result::taken_in_memory;
  }
  record.file_number = number;
  return take_result::taken;
}

}  // namespace

int keep_snapshot(snapshot_record& record) {
  record.submitted = platform::now_seconds();
  record.file_number = -1;
  record.file_sending = false;
  path_text temporary;
  if (write_temporary(record, temporary) == 0) {
    const int number = place(temporary, 0);
    if (number >= 0) {
      record.file_number = number;
      return 0;
    }
    platform::remove_file(temporary);
  }
  log_fallback_once();
  return 1;
}

void forget_snapshot(snapshot_record& record) {
  const int number = record.file_number;
  if (number < 0 || number >= queue_file_count) return;
  path_text path;
  if ((record.file_sending ? send_path(path) : number_path(path, number)) == 0)
    platform::remove_file(path);
  if (!record.file_sending) release(number);
  record.file_number = -1;
  record.file_sending = false;
}

int mark_sending(snapshot_record& record) {
  const int number = record.file_number;
  if (number < 0 || number >= queue_file_count || record.file_sending) return 0;
  path_text from, to;
  if (number_path(from, number) != 0 || send_path(to) != 0) return 1;
  for (int tries = 0; tries < 2; ++tries) {
    if (platform::move_file_exclusive(from, to) == 0) {
      release(number);
      record.file_sending = true;
      return 0;
    }
    if (platform::file_status(from) != 0) {  // the folder went away: memory only
      release(number);
      record.file_number = -1;
      log_fallback_once();
      return 0;
    }
    // A mark that a former process of this identifier left: its snapshot may
    // have been delivered, so it goes as it would at a start-up.
    if (tries == 0 && platform::file_status(to) == 0) {
      char name[core::user_name_size];
      text::format_bounded(name, sizeof name, "queued.%lu.send",
                           static_cast<unsigned long>(platform::process_id()));
      drop_interrupted_send(to, name);
    }
  }
  if (!mark_failure_logged.exchange(true)) {
    path_text shown;
    text::copy_bounded(shown, sizeof shown, from);
    core::log_printf(
        "SNAPSHOT: cannot mark queue file %s as being sent: the snapshot waits until the queue "
        "folder can be changed\r\n",
        shown);
  }
  return 1;
}

void unmark_sending(snapshot_record& record, bool refusal_counted) {
  if (record.file_number < 0 || !record.file_sending) return;
  path_text sending, temporary;
  if (send_path(sending) != 0) return;
  // The refusal count goes into the file before it waits again, so that it
  // survives a restart; should that fail, the file keeps the last count.
  if (refusal_counted && write_temporary(record, temporary) == 0 &&
      platform::replace_file_durable(temporary, sending) != 0)
    platform::remove_file(temporary);
  const int number = place(sending, record.file_number);
  if (number < 0) return;  // stays marked; the next upload starts from there
  record.file_number = number;
  record.file_sending = false;
}

int restore_queue() {
  if (!snapshot_lock) return 0;  // no queue to restore into: the files wait
  restore_scan* scan = new (std::nothrow) restore_scan;
  found_file* found = new (std::nothrow) found_file[restore_capacity];
  if (!scan || !found || folder_path(scan->folder) != 0 ||
      platform::list_folder(scan->folder, scan_entry, scan) != 0) {
    delete scan;
    delete[] found;
    core::log_printf("SNAPSHOT: 0 queued snapshots restored from the queue folder\r\n");
    return 0;
  }
  int count = 0;
  for (int i = 0; i < scan->count; ++i) {
    const char* name = scan->names[i];
    const parsed_name& parsed = scan->parsed[i];
    path_text path;
    if (text::format_bounded(path, sizeof path, "%s\\%s", scan->folder, name) <= 0) continue;
    if (parsed.kind == name_kind::temporary) {
      platform::remove_file(path);
    } else if (parsed.kind == name_kind::send) {
      drop_interrupted_send(path, name);
    } else {
      if (parsed.kind == name_kind::waiting && !claim(parsed.number)) continue;
      found_file& f = found[count];
      if (read_file(path, name, parsed.kind == name_kind::waiting, &f) == read_result::sound) {
        f.number = parsed.number;
        f.own_take = parsed.kind == name_kind::take && parsed.pid == platform::process_id();
        ++count;
      }
      // The number is claimed again once the file is taken over.
      if (parsed.kind == name_kind::waiting) release(parsed.number);
    }
  }
  // This process's own take name must be free before any other file moves
  // onto it; then oldest first, as the last process numbered them (at most
  // restore_capacity entries: an insertion sort).
  const auto before = [](const found_file& a, const found_file& b) {
    if (a.own_take != b.own_take) return a.own_take;
    return a.stored_sequence < b.stored_sequence;
  };
  for (int i = 1; i < count; ++i) {
    found_file moving = found[i];
    int j = i;
    for (; j > 0 && before(moving, found[j - 1]); --j) found[j] = found[j - 1];
    found[j] = moving;
  }
  int restored = 0, left = scan->left_over;
  for (int i = 0; i < count; ++i) {
    snapshot_record& record = found[i].record;
    record.sequence = next_sequence();
    const take_result result = take_over(found[i]);
    if (result == take_result::other_first || result == take_result::left) {
      if (result == take_result::left) ++left;
      release_snapshot(record);
      continue;
    }
    ++restored;
    if (enqueue(&record) != 0) discard_snapshot(record, "queue full of newer snapshots");
  }
  core::log_printf("SNAPSHOT: %d queued snapshot%s restored from the queue folder\r\n", restored,
                   restored == 1 ? "" : "s");
  if (left > 0)
    core::log_printf(
        "SNAPSHOT: %d queue file%s left as they are for a later start: they cannot be taken "
        "over now (is the disk full?)\r\n",
        left, left == 1 ? "" : "s");
  delete scan;
  delete[] found;
  return restored;
}

void queue_folder_reset() {
  numbers_in_use.store(0);
  fallback_logged.store(false);
  mark_failure_logged.store(false);
}

}  // namespace snapshot
