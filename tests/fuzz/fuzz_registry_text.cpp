// Registry text values: registry_read_string's handling of whatever bytes and
// type a value holds, then split_leading_word on the text it hands back.
// The first input byte picks the value's type, the rest are its bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "core/registry_readers.h"
#include "platform/native/test_controls.h"

namespace {

bool is_word_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

const uint32_t types[] = {platform::reg_sz, platform::reg_expand_sz, platform::reg_multi_sz,
                          platform::reg_binary, platform::reg_dword, 0, 11};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  uint32_t type = types[data[0] % (sizeof types / sizeof types[0])];
  platform::test::registry_set(platform::registry_root::current_user, "rkgRetail", type, data + 1,
                               static_cast<uint32_t>(size - 1));

  char out[core::registry_text_capacity + 1];
  std::memset(out, 0x5A, sizeof out);
  int rc = core::registry_read_string("rkgRetail", out);
  bool text_type = type == platform::reg_sz || type == platform::reg_expand_sz ||
                   type == platform::reg_multi_sz;
  if (rc != (text_type && size - 1 <= core::registry_text_capacity ? 0 : 1)) std::abort();
  if (rc != 0) {
    for (char c : out)
      if (c != 0x5A) std::abort();  // a refused value leaves the buffer alone
    return 0;
  }
  if (out[size - 1] != '\0' || std::memcmp(out, data + 1, size - 1) != 0) std::abort();

  char* word = nullptr;
  char* rest = nullptr;
  text::split_leading_word(out, &word, &rest);
  if (word != out || rest < out || rest > out + core::registry_text_capacity) std::abort();
  for (const char* p = word; *p; ++p)
    if (!is_word_char(*p)) std::abort();
  return 0;
}
