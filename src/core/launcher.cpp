// Launcher hand-over: client_opmode says whether redirection is off (0), on
// (2 and above) or up to the hand-over record (1).  The record counts only
// while the process it names runs the image it was tagged for, so a record
// left behind by an exited launcher, or a reused process id, counts for nothing.
#include "core/launcher.h"

#include <cstring>

#include "base/bytes.h"
#include "core/registry_readers.h"
#include "base/text.h"
#include "digest/md5.h"
#include "platform/platform.h"

namespace core {

std::atomic<int32_t> launcher_verdict{1};

namespace {

constexpr uint32_t mode_off = 0;
constexpr uint32_t mode_record = 1;
constexpr size_t image_name_size = 260;
constexpr char record_magic[] = "HPV1";

void lower_in_place(char* text) {
  for (; *text; ++text) *text = text::ascii_lower(*text);
}

int record_vouches(platform::registry_key* key) {
  uint8_t record[launcher_record_size];
  uint32_t type = 0, size = sizeof record;
  if (platform::registry_query(key, "client_opvdata", &type, record, &size) != 0) return 0;
  if (type != platform::reg_binary || size < launcher_record_size) return 0;
  if (std::memcmp(record + lr_magic, record_magic, 4) != 0) return 0;

  char image[image_name_size];
  if (platform::process_image_name(bytes::load_u32le(record + lr_pid), image, sizeof image) != 0)
    return 0;
  image[image_name_size - 1] = '\0';

  uint8_t tag[lr_tag_size];
  launcher_tag(record, image, tag);
  return std::memcmp(tag, record + lr_tag, lr_tag_size) == 0 ? 1 : 0;
}

}  // namespace

void launcher_tag(const uint8_t* record, const char* image_name, uint8_t* tag) {
  char lower[image_name_size];
  text::copy_bounded(lower, sizeof lower, image_name);
  lower_in_place(lower);
  digest::md5_context ctx;
  digest::md5_start(ctx);
  digest::md5_update(ctx, record + lr_value, lr_value_size);
  digest::md5_update(ctx, record + lr_pid, 4);
  digest::md5_update_text(ctx, lower);
  digest::md5_final(ctx);
  std::memcpy(tag, ctx.digest, lr_tag_size);
}

int launcher_handshake() {
  platform::registry_key* key = platform::registry_open(platform::registry_root::current_user);
  if (!key) return 1;
  int verdict = 1;
  uint32_t mode = 0;
  if (registry_read_dword(key, "client_opmode", &mode) == 0) {
    if (mode == mode_off)
      verdict = 0;
    else if (mode == mode_record)
      verdict = record_vouches(key);
  }
  platform::registry_close(key);
  return verdict;
}

}  // namespace core
