// Ranking host selection from the "rkgRetail"/"rkgMods" registry value:
// "ostrel" or "official", "custom;1;<host>;...", "fmrcoop", "fmrcq".
//
// A custom host that would not fit in 63 characters is refused rather than
// cut: a shortened name is a different host, and the statistics would go to
// whoever answers it.  An empty custom host is refused as well (an empty name
// resolves to the local machine).  Both keep the official ranking host.
#include <cstring>

#include "core/mod_kind.h"
#include "core/registry_readers.h"
#include "base/text.h"
#include "deploy_values.h"
#include "redirect/host_rewrite.h"

namespace redirect {
namespace {

void custom_host(const char* rest, char* out) {
  if (std::strncmp(rest, "1;", 2) != 0) return;
  const char* host = rest + 2;
  const char* end = std::strchr(host, ';');
  const size_t length = end ? static_cast<size_t>(end - host) : std::strlen(host);
  if (length == 0 || length >= host_name_size) return;
  text::copy_bounded_n(out, host_name_size, host, length);
}

}  // namespace

void ranking_host_selection(char* out) {
  text::copy_bounded(out, host_name_size, deploy::ranking_host_official);
  const char* value_name = core::detect_mod_kind() == 2 ? "rkgMods" : "rkgRetail";
  char value[core::registry_text_capacity + 1];
  if (core::registry_read_string(value_name, value) != 0) return;
  char* word = nullptr;
  char* rest = nullptr;
  text::split_leading_word(value, &word, &rest);
  if (!*word) return;
  if (std::strcmp(word, "custom") == 0)
    custom_host(rest, out);
  else if (std::strcmp(word, "fmrcoop") == 0)
    text::copy_bounded(out, host_name_size, deploy::ranking_host_fmrcoop);
  else if (std::strcmp(word, "fmrcq") == 0)
    text::copy_bounded(out, host_name_size, deploy::ranking_host_fmrcq);
}

}  // namespace redirect
