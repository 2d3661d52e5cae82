// Player login table storage; it lives for the life of the process.
#include "sockets/player_logins.h"

#include <new>

namespace sockets {
namespace {
uint8_t* login_area = nullptr;
}

int player_logins_allocate() {
  if (!login_area)
    login_area = new (std::nothrow) uint8_t[player_login_slots * player_login_slot_size]();
  return login_area ? 0 : 1;
}

bool player_logins_allocated() { return login_area != nullptr; }

}  // namespace sockets
