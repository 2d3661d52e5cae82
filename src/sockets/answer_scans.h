// The two scans of a server query answer in a client: a server that is not in
// the ranked list must not be shown as ranked, so its "1" becomes "0".  Both
// stay inside the received bytes whatever the answer holds.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sockets {

// The answering server as the ranked list knows it (network byte order).
struct answer_sender {
  uint32_t address;
  uint16_t port;
};

// Offsets in an answer ("qa_" = query answer): type byte, request identity,
// the texts of a plain answer, the "splitnum" marker, its NUL-terminated
// texts' start and the byte that must be 0 for a first split part.
inline constexpr size_t qa_texts = 5;
inline constexpr size_t qa_split_marker = 5;
inline constexpr size_t qa_split_part = 15;
inline constexpr size_t qa_split_texts = 16;
inline constexpr size_t answer_min_size = 30;

// Plain answer: inside the seventh value, a "1" directly before its NUL
// becomes "0" unless the sender is ranked.
void plain_scan(uint8_t* data, size_t size, const answer_sender& sender);
// Split answer: the first "bf2_ranked" key whose value is exactly "1" gets
// "0" unless the sender is ranked.
void split_scan(uint8_t* data, size_t size, const answer_sender& sender);

// The whole decision of the client receive filter over a received answer.
void correct_answer(uint8_t* data, size_t size, const answer_sender& sender);

}  // namespace sockets
