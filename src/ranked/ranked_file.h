// The ranked list file "rankedservers" in the per-user folder: "HRC1", the
// blob's length (32-bit little-endian), then the blob exactly as received,
// still signed and enciphered.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace ranked {

// File offsets ("rlf_" = ranked-list file).
inline constexpr uint8_t ranked_file_magic[4] = {'H', 'R', 'C', '1'};
inline constexpr size_t rlf_magic = 0;
inline constexpr size_t rlf_length = 4;
inline constexpr size_t rlf_blob = 8;
inline constexpr char ranked_file_name[] = "rankedservers";

// Reads the file and installs its blob; 0 when the table was replaced.
int load_ranked_list();
// The loader over an open stream: header checks, the blob read in pieces of
// at most 1000 bytes, then the install of what was read.
int load_ranked_stream(FILE* file);
// Replaces the file with the blob of m bytes (at most 64000); 0 when written.
int write_ranked_file(const uint8_t* blob, size_t m);

}  // namespace ranked
