// Process-wide facts fixed by start-up: operating mode, the names derived from
// the host executable, and the host image record that identifies it.
#pragma once
#include <cstdint>

namespace core {

inline constexpr int mode_client = 1;
inline constexpr int mode_server = 2;

inline constexpr int host_image_record_size = 46;
// hir_: offsets in the host image record (a wire format: lookup requests carry it).
inline constexpr int hir_length = 0;
inline constexpr int hir_magic = 2;
inline constexpr int hir_file_bytes = 6;
inline constexpr int hir_text_bytes = 10;
inline constexpr int hir_file_md5 = 14;
inline constexpr int hir_text_md5 = 30;

struct process_state {
  int32_t operating_mode = 0;
  int32_t initialised = 0;
  char host_executable_name[20] = "";
  char settings_file_name[40] = "ostrel.cfg";
  uint8_t host_image_record[host_image_record_size] = {};
  char host_image_tag[33] = "unknown";
  uint32_t server_browser_mode = 0;
};

extern process_state process;

}  // namespace core
