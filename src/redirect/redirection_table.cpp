// Redirection table: the entry handler that fills the four fields from the
// settings file's values, and the readers of the name hook and the send path.
//
// Writers and readers run on any host thread.  Every new value is built aside
// and copied in under a spin lock that is held only for that copy, so a reader
// never sees half of a name or an address and pays only a few dozen bytes'
// copy.  A "lookup:" name too long for the 64-byte field is refused (the field
// stays empty) rather than cut: a cut host name may well name another host.
#include "redirect/redirection_table.h"

#include <atomic>
#include <cstring>
#include <thread>

#include "base/bytes.h"
#include "base/text.h"
#include "platform/net.h"

namespace redirect {
namespace {

struct stats_choice {
  int32_t resolver_flag;
  char lookup_name[stats_name_size];
};

stats_choice stats = {0, ""};
forward_address master = {family_ipv4, 0, 0};
forward_address key_server = {family_ipv4, 0, 0};
std::atomic_flag busy = ATOMIC_FLAG_INIT;

struct held {
  held() {
    while (busy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
  }
  ~held() { busy.clear(std::memory_order_release); }
  held(const held&) = delete;
  held& operator=(const held&) = delete;
};

constexpr char lookup_prefix[] = "lookup:";
constexpr size_t lookup_prefix_length = sizeof lookup_prefix - 1;

// The next ':'-separated token at *pos, skipping runs of separators; the
// token is terminated in place.  Null when none is left.
char* next_token(char** pos) {
  char* p = *pos;
  while (*p == ':') ++p;
  if (*p == '\0') {
    *pos = p;
    return nullptr;
  }
  char* token = p;
  while (*p && *p != ':') ++p;
  if (*p) *p++ = '\0';
  *pos = p;
  return token;
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The port as the C library's atoi would read it (blanks, a sign, digits up
// to the first other character), wrapping instead of overflowing, then cut to
// 16 bits.
uint16_t parse_port(const char* text) {
  while (is_space(*text)) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + static_cast<uint32_t>(*text - '0');
  if (negative) value = 0u - value;
  return static_cast<uint16_t>(value);
}

forward_address forward_from_value(char* value) {
  forward_address out = {family_ipv4, 0, 0};
  char* pos = value;
  char* address = next_token(&pos);
  char* port = address ? next_token(&pos) : nullptr;
  if (!port) return out;
  out.address = platform::ipv4_from_text(address);
  out.port = bytes::to_network_u16(parse_port(port));
  return out;
}

stats_choice stats_from_value(const char* value) {
  stats_choice out = {0, ""};
  out.resolver_flag = std::strcmp(value, "hosts") == 0 ? 1 : 0;
  if (std::strncmp(value, lookup_prefix, lookup_prefix_length) == 0 &&
      text::copy_bounded(out.lookup_name, sizeof out.lookup_name, value + lookup_prefix_length) != 0)
    out.lookup_name[0] = '\0';
  return out;
}

}  // namespace

int redirection_entry(const char* key, char* value) {
  if (std::strcmp(key, "bf2web") == 0) {
    stats_choice next = stats_from_value(value);
    held hold;
    stats = next;
  } else if (std::strcmp(key, "gsqr_mstr") == 0) {
    forward_address next = forward_from_value(value);
    held hold;
    master = next;
  } else if (std::strcmp(key, "gsqr_key") == 0) {
    forward_address next = forward_from_value(value);
    held hold;
    key_server = next;
  }
  return 0;
}

int32_t stats_resolver_flag() {
  held hold;
  return stats.resolver_flag;
}

void stats_lookup_name(char* out) {
  held hold;
  std::memcpy(out, stats.lookup_name, stats_name_size);
}

forward_address master_forward() {
  held hold;
  return master;
}

forward_address key_forward() {
  held hold;
  return key_server;
}

void redirection_reset() {
  held hold;
  stats = {0, ""};
  master = {family_ipv4, 0, 0};
  key_server = {family_ipv4, 0, 0};
}

}  // namespace redirect
