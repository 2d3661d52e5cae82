// The settings file reader over arbitrary bytes: line pieces, the line rules
// and the redirection table's handling of every pair that comes out.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/settings_file.h"
#include "redirect/redirection_table.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// What the line rules promise of every pair, checked before the table acts on it.
int check_then_enter(const char* key, char* value) {
  size_t key_length = std::strlen(key);
  size_t value_length = std::strlen(value);
  if (key_length >= core::settings_line_size || value_length >= core::settings_line_size) std::abort();
  if (std::strpbrk(key, "= \t")) std::abort();
  if (std::strpbrk(value, "\r\n")) std::abort();
  if (value_length && (is_blank(value[0]) || is_blank(value[value_length - 1]))) std::abort();
  return redirect::redirection_entry(key, value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty buffer
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!file) return 0;
  core::settings_read_stream(file, check_then_enter);
  std::fclose(file);

  char name[redirect::stats_name_size];
  redirect::stats_lookup_name(name);
  const int32_t flag = redirect::stats_resolver_flag();
  if (std::memchr(name, 0, sizeof name) == nullptr || (flag != 0 && flag != 1)) std::abort();
  if (redirect::master_forward().family != 2 || redirect::key_forward().family != 2) std::abort();
  redirect::redirection_reset();
  return 0;
}
