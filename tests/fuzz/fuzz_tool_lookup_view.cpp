// Arbitrary bytes as what an operator hands ostrel-tool's lookup decoders: a
// datagram (hex or bytes), a cache file, a table of names and addresses.  The
// answer is also re-signed for the first request values so that the library's
// record parser is reached through the tool.
#include <cstdint>
#include <string>
#include <vector>

#include "deploy_values.h"
#include "lookup_signing.h"
#include "common/text_input.h"
#include "operator/lookup_view.h"
#include "service/lookup_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using fuzz_support::check;
  const std::vector<uint8_t> input(data, data + size);
  const std::vector<uint8_t> bytes = tool::bytes_or_hex(input);
  std::string error;
  tool::lookup_kind(bytes.data(), bytes.size(), error);

  tool::cache_view cache;
  if (!tool::decode_cache(deploy::lookup_chain, bytes.data(), bytes.size(), cache, error))
    check(!error.empty());

  service::lookup_request_seen seen;
  service::decode_lookup_request(deploy::lookup_chain, bytes.data(), bytes.size(), seen);

  tool::request_values request;
  const std::vector<uint8_t> answer = service::build_lookup_answer(
      deploy::lookup_chain, request.id, request.time, request.tag, request.id, bytes);
  tool::answer_view view;
  if (tool::open_answer(deploy::lookup_chain, request, answer.data() + 6, answer.size() - 6, view,
                        error))
    check(view.code_ok && view.payload == bytes);

  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> table;
  tool::parse_address_table(std::string(input.begin(), input.end()), table, error);
  return 0;
}
