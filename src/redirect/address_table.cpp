// Address table storage.
#include "redirect/address_table.h"

#include <new>

namespace redirect {
namespace {
uint8_t* table_area = nullptr;
}

int address_table_allocate() {
  if (!table_area) table_area = new (std::nothrow) uint8_t[address_table_size]();
  return table_area ? 0 : 1;
}

void address_table_release() {
  delete[] table_area;
  table_area = nullptr;
}

bool address_table_allocated() { return table_area != nullptr; }

}  // namespace redirect
