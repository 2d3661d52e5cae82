// The answers the soak's loopback game servers give, friendly and hostile,
// and what each must look like when the game receives it: the ranked flag of
// a server off the ranked list corrected to "0" once, nothing else touched.
// The correction is written here from the query answer's layout, apart from
// the library's own code, so that a fault shared by both cannot hide.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace soak {

struct answer_kind {
  std::string name;               // for the report
  std::vector<uint8_t> answer;    // what the server sends
};

// Plain and split answers, and the hostile ones: long texts, repeated pairs,
// empty texts, the pair's key as a value, a split part that is not the
// first, a short datagram and one full of "1" values.
std::vector<answer_kind> answer_kinds();

// What the game must receive for answer from a server that is (ranked) or is
// not on the ranked list, with the server-list mode on and a query socket open.
std::vector<uint8_t> corrected(const std::vector<uint8_t>& answer, bool ranked);

}  // namespace soak
