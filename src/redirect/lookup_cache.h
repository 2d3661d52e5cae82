// Look-up cache files "network_%d_%s" in the per-user folder ("HTI1"): the
// last good lookup answer with the request it answered, so that a client
// process answers look-ups before its first exchange.  The library writes
// file 0 (client mode) and reads files 1 and 0 at start-up.
#pragma once
#include <cstddef>
#include <cstdint>

#include "redirect/lookup_protocol.h"
#include "redirect/lookup_request.h"

namespace redirect {

// lcf_: offsets in a lookup cache file.
// File layout: magic, the number of bytes that follow (r + 10 for an answer
// datagram of r bytes), the request's id, time and tag, then the answer from
// its nonce on.
inline constexpr uint8_t cache_magic[4] = {'H', 'T', 'I', '1'};
inline constexpr size_t lcf_magic = 0;
inline constexpr size_t lcf_length = 4;
inline constexpr size_t lcf_id = 6;
inline constexpr size_t lcf_time = 14;
inline constexpr size_t lcf_tag = 18;
inline constexpr size_t lcf_body = 22;
inline constexpr size_t lcf_length_base = 6;  // the length field counts from offset 6
// The largest file the writer makes: the header and the body of a 2000-byte answer.
inline constexpr size_t lookup_cache_max_size =
    lcf_body + lookup_answer_max_size - lan_body;

// Installs the cached answer of file `number` when it is younger than max_age
// seconds; 0 when installed, 1 otherwise.
int load_cache(int number, uint32_t max_age);

// The loader's checks and install over a file's bytes (at most
// lookup_cache_max_size of them): layout, code, age, then the install.
int install_cache_bytes(const uint8_t* data, size_t size, uint32_t max_age);

// Lays out the file for an answer datagram of length bytes (30 to 2000) to
// request into out (lookup_cache_max_size bytes).  Returns the file's size,
// 0 when the length is out of range.
size_t format_cache(const lookup_request& request, const uint8_t* datagram, size_t length,
                    uint8_t* out);

// Replaces file `number` with the answer; 0 when written, 1 otherwise.
int write_cache(int number, const lookup_request& request, const uint8_t* datagram,
                size_t length);

}  // namespace redirect
