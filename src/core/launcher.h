// The launcher hand-over: whether a game client may redirect, as a companion
// launcher said through the registry.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace core {

// lr_: offsets in the launcher record "client_opvdata" (32 bytes, little-endian).
inline constexpr size_t launcher_record_size = 32;
inline constexpr size_t lr_magic = 0;   // "HPV1"
inline constexpr size_t lr_pid = 4;     // the launcher's process id
inline constexpr size_t lr_value = 8;   // 8 bytes of the launcher's choosing
inline constexpr size_t lr_tag = 16;    // MD5 over value, pid bytes, image name
inline constexpr size_t lr_value_size = 8;
inline constexpr size_t lr_tag_size = 16;

// 1 redirection allowed, 0 not allowed.
int launcher_handshake();

// The tag a record must carry: MD5 over the record's bytes 8..15, then 4..7,
// then the image name lower-cased (ASCII letters only).  tag holds 16 bytes.
void launcher_tag(const uint8_t* record, const char* image_name, uint8_t* tag);

// Written by the name hook with each verdict, read by the connect and send
// paths; starts at 1.
extern std::atomic<int32_t> launcher_verdict;

}  // namespace core
