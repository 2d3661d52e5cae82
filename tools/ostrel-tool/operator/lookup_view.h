// The lookup protocol's datagrams and the look-up cache file as an operator
// reads them: requests decoded, answers opened with the deployment's chaining
// state and their records read by the library's own parser, cache files
// checked as the library's loader checks them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tool {

// What an answer's code is keyed on: the request's id, time and tag.
struct request_values {
  uint8_t id[8] = {};
  uint32_t time = 0;
  uint32_t tag = 0;
};

// An address table entry as the library installs it (addresses in network order).
struct address_entry {
  uint32_t key = 0;
  uint32_t aux_first = 0;
  uint32_t aux_second = 0;
  std::vector<uint32_t> addresses;
};

struct answer_view {
  uint8_t nonce[8] = {};
  bool code_ok = false;
  std::vector<uint8_t> payload;      // in clear
  int parse_result = 1;              // the library parser's result (0: valid payload)
  std::vector<address_entry> entries;
};

// body: an answer from its nonce on.  false and one line when it is too short
// or too long for an answer; otherwise true, with code_ok saying whether it verifies.
bool open_answer(const uint32_t chain[4], const request_values& request, const uint8_t* body,
                 size_t size, answer_view& out, std::string& error);

struct cache_view {
  request_values request;
  answer_view answer;
};

// A cache file's layout as the loader checks it, then its answer opened.
bool decode_cache(const uint32_t chain[4], const uint8_t* data, size_t size, cache_view& out,
                  std::string& error);

// Kind of a lookup datagram: 'Q' request, 'O' answer; 0 and one line when it is neither.
char lookup_kind(const uint8_t* data, size_t size, std::string& error);

// A table of "NAME-or-0xKEY ADDRESS..." lines ("#" comments) as keys and
// addresses; false and one line naming the bad line.
bool parse_address_table(const std::string& text,
                         std::vector<std::pair<uint32_t, std::vector<uint32_t>>>& out,
                         std::string& error);

}  // namespace tool
