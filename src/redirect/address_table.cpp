// The process-wide address table and its lock.
#include "redirect/address_table.h"

#include <cstring>
#include <new>

#include "platform/platform.h"

namespace redirect {
namespace {
uint8_t* table_area = nullptr;
size_t table_end = 0;
platform::lock* table_lock = nullptr;
}  // namespace

int address_table_allocate() {
  if (!table_lock) table_lock = platform::lock_create();
  if (!table_lock) return 1;
  if (!table_area) table_area = new (std::nothrow) uint8_t[address_table_size]();
  table_end = 0;
  return table_area ? 0 : 1;
}

void address_table_release() {
  if (table_lock) platform::lock_acquire(table_lock);
  delete[] table_area;
  table_area = nullptr;
  table_end = 0;
  if (table_lock) platform::lock_release(table_lock);
}

bool address_table_allocated() { return table_area != nullptr; }

int address_table_publish(const table_view& staged) {
  if (!table_lock) return 1;
  size_t end = staged.end;
  if (end + table_terminator_size > address_table_size || end + table_terminator_size > staged.capacity)
    return 1;
  platform::lock_acquire(table_lock);
  const bool published = table_area != nullptr;
  if (published) {
    std::memcpy(table_area, staged.area, end + table_terminator_size);
    table_end = end;
  }
  platform::lock_release(table_lock);
  return published ? 0 : 1;
}

int find_entry(uint32_t key, table_entry* out) {
  if (!table_lock) return 1;
  platform::lock_acquire(table_lock);
  int rc = table_area ? table_find(table_area, table_end, key, out) : 1;
  platform::lock_release(table_lock);
  return rc;
}

int first_address(uint32_t key, uint32_t* out) {
  table_entry entry;
  if (find_entry(key, &entry) != 0) return 1;
  *out = entry.first_address;
  return 0;
}

}  // namespace redirect
