// Suffix swap.  The replacement suffix of this deployment is shorter than the
// retired one, but the result is still formatted cut to fit: another pair of
// suffixes must not overrun the 64-byte buffer either.
#include <cstring>

#include "base/text.h"
#include "deploy_values.h"
#include "redirect/host_rewrite.h"

namespace redirect {

void suffix_swap(const char* name, char* out) {
  constexpr size_t retired_length = sizeof deploy::retired_suffix - 1;
  const size_t length = strnlen(name, host_name_size);
  if (length <= retired_length || length >= host_name_size ||
      std::memcmp(name + length - retired_length, deploy::retired_suffix, retired_length) != 0) {
    text::copy_bounded(out, host_name_size, name);
    return;
  }
  text::format_bounded(out, host_name_size, "%.*s%s", static_cast<int>(length - retired_length),
                       name, deploy::replacement_suffix);
}

}  // namespace redirect
