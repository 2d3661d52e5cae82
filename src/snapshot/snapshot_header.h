// The HTTP request header of an upload, written in place in front of the body
// so that header and body leave as one contiguous block.
#pragma once
#include <cstddef>
#include <cstdint>

#include "snapshot/snapshot_record.h"

namespace snapshot {

inline constexpr char snapshot_path[] = "/ASP/sendsnapshot.aspx";
inline constexpr char snapshot_magic[] = "HSNAP1";  // the first six bytes of every HTTP body
inline constexpr size_t snapshot_magic_size = 6;
inline constexpr size_t header_min_length = 60;
inline constexpr size_t tsdata_text_size = 65;  // 64 hex digits and a NUL

// The "X-Ostrel-tsdata" value: the four numbers masked, then the hex digest
// of the four unmasked numbers and the provider ID p.
void tsdata_text(uint32_t midpoint, uint32_t service_time, uint32_t start_time, uint32_t t2,
                 const char* p, char out[tsdata_text_size]);

// Writes the request header so that it ends exactly at the header reserve, and
// sets header offset and length.  0, or 1 when it does not fit the reserve.
int prepare_header(snapshot_record& record);

}  // namespace snapshot
