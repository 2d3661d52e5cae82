// The snapshot queue.  Free slots carry sequence 0 and sort first, so a new
// record takes a free slot while one exists and otherwise competes with the
// oldest queued one.  Log lines and releases happen after the lock is left:
// the lock guards the slots and is never held while another one is taken.
#include "snapshot/snapshot_queue.h"

#include "core/log.h"
#include "snapshot/queue_folder.h"

namespace snapshot {

platform::lock* snapshot_lock = nullptr;
uint32_t submission_counter = 0;

namespace {

snapshot_record slots[queue_slots];

bool before(const snapshot_record& a, const snapshot_record& b) {
  if (a.sequence != b.sequence) return a.sequence < b.sequence;
  return !a.buffer && b.buffer;
}

// Ten entries: an insertion sort, stable and without allocation.
void sort_slots() {
  for (size_t i = 1; i < queue_slots; ++i) {
    const snapshot_record moving = slots[i];
    size_t j = i;
    for (; j > 0 && before(moving, slots[j - 1]); --j) slots[j] = slots[j - 1];
    slots[j] = moving;
  }
}

bool occupied(const snapshot_record& slot) { return slot.buffer && slot.sequence != 0; }

}  // namespace

uint32_t next_sequence() {
  ++submission_counter;
  return submission_counter == 0 ? 1 : submission_counter;
}

int enqueue(const snapshot_record* record) {
  if (!record || !record->buffer || record->body_length == 0) return 1;
  if (!snapshot_lock) return 1;
  int result = 1;
  snapshot_record evicted;
  platform::lock_acquire(snapshot_lock);
  sort_slots();
  if (slots[0].sequence < record->sequence) {
    if (slots[0].buffer) evicted = slots[0];
    slots[0] = *record;
    result = 0;
  }
  sort_slots();
  platform::lock_release(snapshot_lock);
  if (evicted.buffer) discard_snapshot(evicted, "queue full, oldest dropped");
  return result;
}

int dequeue(snapshot_record* out) {
  if (!out || !snapshot_lock) return 1;
  int result = 1;
  platform::lock_acquire(snapshot_lock);
  sort_slots();
  for (snapshot_record& slot : slots) {
    if (!occupied(slot)) continue;
    *out = slot;
    platform::test_point("dequeue_taking");
    slot = snapshot_record{};
    result = 0;
    break;
  }
  sort_slots();
  platform::lock_release(snapshot_lock);
  return result;
}

void discard_snapshot(snapshot_record& record, const char* why) {
  core::log_printf("SNAPSHOT: snapshot %lu (%lu bytes) discarded: %s\r\n",
                   static_cast<unsigned long>(record.sequence),
                   static_cast<unsigned long>(record.body_length), why);
  forget_snapshot(record);
  release_snapshot(record);
}

uint32_t queue_oldest_submitted() {
  if (!snapshot_lock) return 0;
  uint32_t oldest = 0;
  platform::lock_acquire(snapshot_lock);
  sort_slots();
  for (const snapshot_record& slot : slots)
    if (occupied(slot)) {
      oldest = slot.submitted;
      break;
    }
  platform::lock_release(snapshot_lock);
  return oldest;
}

void queue_reset() {
  if (snapshot_lock) platform::lock_acquire(snapshot_lock);
  for (snapshot_record& slot : slots) release_snapshot(slot);
  if (snapshot_lock) platform::lock_release(snapshot_lock);
}

size_t queue_count() {
  if (!snapshot_lock) return 0;
  size_t n = 0;
  platform::lock_acquire(snapshot_lock);
  for (const snapshot_record& slot : slots) n += occupied(slot) ? 1 : 0;
  platform::lock_release(snapshot_lock);
  return n;
}

}  // namespace snapshot
