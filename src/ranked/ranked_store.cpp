// Ranked-list arena: the published table, the list blob buffer and the spare
// table the next install builds in, with the two locks that keep them apart.
#include "ranked/ranked_store.h"

#include <cstring>
#include <new>

#include "base/bytes.h"
#include "platform/platform.h"

namespace ranked {
namespace {
uint8_t* arena = nullptr;
uint8_t* table = nullptr;        // published; read under table_lock
uint8_t* spare = nullptr;        // written under install_lock only
uint8_t* blob_buffer = nullptr;  // written under install_lock only
size_t count = 0;                // of table; under table_lock
platform::lock* table_lock = nullptr;
platform::lock* install_lock = nullptr;
// An entry as one number whose order is the table order (bytes compared
// first to last as unsigned values).
uint64_t order_key(const uint8_t* entry) {
  return (static_cast<uint64_t>(bytes::load_u32be(entry)) << 32) | bytes::load_u32be(entry + 4);
}
}  // namespace

int arena_allocate() {
  if (!table_lock) table_lock = platform::lock_create();
  if (!install_lock) install_lock = platform::lock_create();
  if (!table_lock || !install_lock) return 1;
  if (!arena) {
    arena = new (std::nothrow) uint8_t[ranked_table_size * 2 + ranked_blob_max_size]();
    if (!arena) return 1;
    table = arena;
    blob_buffer = arena + ranked_table_size;
    spare = blob_buffer + ranked_blob_max_size;
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
  const size_t built = build_ranked_table(blob_buffer, m, spare);
  platform::lock_acquire(table_lock);
  uint8_t* old = table;
  table = spare;
  count = built;
  platform::lock_release(table_lock);
  spare = old;
  platform::lock_release(install_lock);
  return 0;
}

bool ranked_lookup(uint32_t address, uint16_t port) {
  if (!table_lock) return false;
  uint8_t key_bytes[ranked_entry_size];
  ranked_key(address, port, key_bytes);
  const uint64_t key = order_key(key_bytes);
  platform::lock_acquire(table_lock);
  size_t low = 0;
  size_t high = arena ? count : 0;
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
  platform::lock_release(table_lock);
  return found;
}

size_t ranked_count() {
  if (!table_lock) return 0;
  platform::lock_acquire(table_lock);
  const size_t n = arena ? count : 0;
  platform::lock_release(table_lock);
  return n;
}

bool ranked_entry(size_t i, uint8_t out[ranked_entry_size]) {
  if (!table_lock) return false;
  platform::lock_acquire(table_lock);
  const bool inside = arena && i < count;
  if (inside) std::memcpy(out, table + i * ranked_entry_size, ranked_entry_size);
  platform::lock_release(table_lock);
  return inside;
}

void ranked_reset() {
  if (!table_lock) return;
  platform::lock_acquire(table_lock);
  count = 0;
  platform::lock_release(table_lock);
}

}  // namespace ranked
