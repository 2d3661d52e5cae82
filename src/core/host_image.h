// The host image record: a fingerprint of the host executable (whole-file MD5
// and the MD5 of its ".text" section), sent with every lookup request.
#pragma once
#include <cstdint>
#include <cstdio>

namespace core {

// Locates the ".text" section of a PE file.  Returns 0 and its raw-data offset
// and size when found, 1 when the file is short, not PE, or has no such section.
int find_text_section(FILE* file, uint32_t* raw_offset, uint32_t* raw_size);

// Fills record (46 bytes) and tag (33 bytes) from the open executable.
void compute_host_image_record(FILE* file, uint8_t* record, char* tag);

}  // namespace core
