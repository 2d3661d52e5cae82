// Player login table: plain records in a fixed area, one lock.
#include "sockets/player_logins.h"

#include <cstring>
#include <new>

#include "platform/platform.h"

namespace sockets {
namespace {

struct login_record {
  uint32_t time;
  uint32_t address;
  uint32_t profile_id;
  uint16_t name_length;
  uint16_t proof_length;
  uint8_t name[login_text_field];
  uint8_t proof[login_text_field];
};

struct login_slot {
  uint16_t next;  // record replaced next, 0 to 3
  login_record records[logins_per_slot];
};

login_slot* slots = nullptr;
platform::lock* logins_lock = nullptr;

size_t cut(size_t length) { return length > login_text_max ? login_text_max : length; }

}  // namespace

int player_logins_allocate() {
  if (!logins_lock) logins_lock = platform::lock_create();
  if (!logins_lock) return 1;
  if (!slots) slots = new (std::nothrow) login_slot[player_login_slots]();
  return slots ? 0 : 1;
}

bool player_logins_allocated() { return slots != nullptr; }

void player_logins_clear() {
  if (!slots) return;
  platform::lock_acquire(logins_lock);
  for (size_t i = 0; i < player_login_slots; ++i) slots[i] = login_slot{};
  platform::lock_release(logins_lock);
}

void store_login(uint32_t slot, uint32_t address, uint32_t profile_id, const uint8_t* name,
                 size_t name_length, const uint8_t* proof, size_t proof_length) {
  if (!slots || profile_id == 0 || name_length == 0 || proof_length == 0 ||
      slot >= player_login_slots)
    return;
  login_record record = {};
  record.time = platform::now_seconds();
  record.address = address;
  record.profile_id = profile_id;
  record.name_length = static_cast<uint16_t>(cut(name_length));
  record.proof_length = static_cast<uint16_t>(cut(proof_length));
  std::memcpy(record.name, name, record.name_length);
  std::memcpy(record.proof, proof, record.proof_length);

  platform::lock_acquire(logins_lock);
  login_slot& s = slots[slot];
  size_t at = logins_per_slot;
  for (size_t i = 0; i < logins_per_slot; ++i)
    if (s.records[i].address == address && s.records[i].profile_id == profile_id) at = i;
  if (at == logins_per_slot) {
    at = s.next % logins_per_slot;
    s.next = static_cast<uint16_t>((at + 1) % logins_per_slot);
  }
  s.records[at] = record;
  platform::lock_release(logins_lock);
}

int login_record_read(uint32_t profile_id, uint32_t address, uint32_t slot, uint8_t* name,
                      uint8_t* proof, size_t* name_length, size_t* proof_length) {
  // No stored record has profile id 0: an empty record must not match.
  if (!slots || slot >= player_login_slots || profile_id == 0) return 1;
  int rc = 1;
  platform::lock_acquire(logins_lock);
  for (const login_record& r : slots[slot].records) {
    if (r.profile_id != profile_id || r.address != address) continue;
    *name_length = *name_length < r.name_length ? *name_length : r.name_length;
    *proof_length = *proof_length < r.proof_length ? *proof_length : r.proof_length;
    std::memcpy(name, r.name, *name_length);
    std::memcpy(proof, r.proof, *proof_length);
    rc = 0;
    break;
  }
  platform::lock_release(logins_lock);
  return rc;
}

}  // namespace sockets
