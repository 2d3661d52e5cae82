// Ranked-list arena: a pool of tables, the published one among them, and the
// list blob buffer.  Readers take no lock: see ranked_store.h for the scheme.
//
// Why it is safe, with every atomic operation sequentially consistent: a
// reader increments the count of the table it loaded and then loads the
// published table again, reading only when both agree.  An install rebuilds a
// table only after seeing it unpublished with a zero count.  If that check
// came before the reader's increment, the reader's second load comes later
// still and sees the table unpublished (or published again only after it was
// rebuilt whole), so the reader backs off or reads a finished table; if the
// increment came first, the install sees it and leaves the table alone.
#include "ranked/ranked_store.h"

#include <atomic>
#include <cstring>
#include <new>

#include "base/bytes.h"
#include "platform/platform.h"

namespace ranked {
namespace {

// Three tables: the published one, one a slow reader may still hold after an
// install replaced it, and one to build in.  Should all be held, the install
// (never a reader) waits for a reader to leave; readers hold a table only for
// one binary search.
constexpr int pool_size = 3;

struct table_slot {
  uint8_t* entries;
  size_t count;
  std::atomic<uint32_t> readers;
};

uint8_t* arena = nullptr;
uint8_t* blob_buffer = nullptr;  // written under install_lock only
table_slot pool[pool_size] = {};
std::atomic<table_slot*> published{nullptr};  // null: the empty list
platform::lock* install_lock = nullptr;

// An entry as one number whose order is the table order (bytes compared
// first to last as unsigned values).
uint64_t order_key(const uint8_t* entry) {
  return (static_cast<uint64_t>(bytes::load_u32be(entry)) << 32) | bytes::load_u32be(entry + 4);
}

// The published table with its reader count raised, or null for the empty
// list.  Each retry means an install published in between.
table_slot* hold_published() {
  for (;;) {
    table_slot* slot = published.load();
    if (!slot) return nullptr;
    slot->readers.fetch_add(1);
    if (published.load() == slot) return slot;
    slot->readers.fetch_sub(1);
  }
}

void release(table_slot* slot) {
  if (slot) slot->readers.fetch_sub(1);
}

// Under install_lock: a table no reader holds and no reader can reach.
table_slot* free_slot() {
  for (;;) {
    const table_slot* now = published.load();
    for (table_slot& slot : pool)
      if (&slot != now && slot.readers.load() == 0) return &slot;
    platform::sleep_ms(0);
  }
}

}  // namespace

int arena_allocate() {
  if (!install_lock) install_lock = platform::lock_create();
  if (!install_lock) return 1;
  if (!arena) {
    uint8_t* bytes = new (std::nothrow) uint8_t[ranked_table_size * pool_size + ranked_blob_max_size]();
    if (!bytes) return 1;
    for (int i = 0; i < pool_size; ++i) pool[i].entries = bytes + ranked_table_size * i;
    blob_buffer = bytes + ranked_table_size * pool_size;
    arena = bytes;
  }
  return 0;
}

bool arena_allocated() { return arena != nullptr; }

int install_ranked_blob(const uint8_t* blob, size_t m) {
  if (!arena || !blob || m > ranked_blob_max_size) return 1;
  platform::lock_acquire(install_lock);
  std::memcpy(blob_buffer, blob, m);
  if (verify_ranked_blob(blob_buffer, m) != 0) {
    platform::lock_release(install_lock);
    return 1;
  }
  table_slot* slot = free_slot();
  slot->count = build_ranked_table(blob_buffer, m, slot->entries);
  published.store(slot);
  platform::lock_release(install_lock);
  return 0;
}

bool ranked_lookup(uint32_t address, uint16_t port) {
  uint8_t key_bytes[ranked_entry_size];
  ranked_key(address, port, key_bytes);
  const uint64_t key = order_key(key_bytes);
  table_slot* slot = hold_published();
  if (!slot) return false;
  const uint8_t* table = slot->entries;
  size_t low = 0;
  size_t high = slot->count;
  bool found = false;
  while (low < high) {
    const size_t mid = low + (high - low) / 2;
    const uint64_t entry = order_key(table + mid * ranked_entry_size);
    if (entry == key) {
      found = true;
      break;
    }
    if (entry < key)
      low = mid + 1;
    else
      high = mid;
  }
  release(slot);
  return found;
}

size_t ranked_count() {
  table_slot* slot = hold_published();
  const size_t n = slot ? slot->count : 0;
  release(slot);
  return n;
}

bool ranked_entry(size_t i, uint8_t out[ranked_entry_size]) {
  table_slot* slot = hold_published();
  const bool inside = slot && i < slot->count;
  if (inside) std::memcpy(out, slot->entries + i * ranked_entry_size, ranked_entry_size);
  release(slot);
  return inside;
}

void ranked_reset() {
  if (!install_lock) return;
  platform::lock_acquire(install_lock);
  published.store(nullptr);
  platform::lock_release(install_lock);
}

}  // namespace ranked
