// Building a table answer in an answer block.  Every field is rewritten, so a
// block reused for the thread's next answer keeps nothing of the last one.
#include "redirect/host_entry.h"

#include <new>

#include "base/bytes.h"
#include "base/text.h"

namespace redirect {

host_entry* build_table_answer(uint8_t* block, const char* name, uint32_t address) {
  namespace at = answer_layout;
  bytes::store_u32le(block + at::address, address);  // network order bytes, as held
  char* address_bytes = reinterpret_cast<char*>(block + at::address);
  char* name_text = reinterpret_cast<char*>(block + at::name);
  text::copy_bounded(name_text, at::name_capacity, name);

  // The alias list's one null pointer also ends the address list.
  static_assert(at::alias_list == at::address_list + sizeof(char*));
  char** list = new (block + at::address_list) char*(address_bytes);
  char** aliases = new (block + at::alias_list) char*(nullptr);
  return new (block) host_entry{name_text, aliases, address_family_ipv4, 4, list};
}

}  // namespace redirect
