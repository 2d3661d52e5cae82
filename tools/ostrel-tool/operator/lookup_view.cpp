// Reads lookup datagrams and cache files for the operators' commands.  The
// answer is opened by the reference service's code and its records go through
// the library's parser into a private table, so the tool shows exactly what a
// client would install.
#include "operator/lookup_view.h"

#include <cstring>

#include "base/bytes.h"
#include "common/listed_lines.h"
#include "common/text_input.h"
#include "redirect/address_entries.h"
#include "redirect/address_table.h"
#include "redirect/lookup_cache.h"
#include "redirect/lookup_protocol.h"
#include "redirect/lookup_records.h"
#include "redirect/name_key.h"
#include "service/lookup_messages.h"

namespace tool {
namespace {

std::vector<address_entry> read_entries(const uint8_t* area, size_t end) {
  std::vector<address_entry> out;
  size_t at = 0;
  while (at + redirect::entry_header_size <= end) {
    const uint8_t* e = area + at;
    const uint8_t count = e[redirect::entry_count];
    const size_t size = redirect::entry_header_size + 4u * count;
    if (count == 0 || at + size > end) break;
    address_entry entry;
    entry.key = bytes::load_u32le(e + redirect::entry_key);
    entry.aux_first = bytes::load_u32le(e + redirect::entry_aux_first);
    entry.aux_second = bytes::load_u32le(e + redirect::entry_aux_second);
    for (size_t i = 0; i < count; ++i)
      entry.addresses.push_back(bytes::load_u32le(e + redirect::entry_addresses + 4 * i));
    out.push_back(entry);
    at += size;
  }
  return out;
}

}  // namespace

bool open_answer(const uint32_t chain[4], const request_values& request, const uint8_t* body,
                 size_t size, answer_view& out, std::string& error) {
  out = answer_view{};
  if (size < redirect::lookup_body_min_size || size > redirect::lookup_body_max_size) {
    error = "an answer holds 30 to 2000 bytes; this one " + std::to_string(size + redirect::lan_body);
    return false;
  }
  std::memcpy(out.nonce, body + redirect::lbody_nonce, sizeof out.nonce);
  out.code_ok = service::open_lookup_answer(chain, request.id, request.time, request.tag, body,
                                            size, out.payload);
  std::vector<uint8_t> staging(redirect::address_table_size);
  redirect::table_view table{staging.data(), staging.size(), 0};
  out.parse_result = redirect::parse_lookup_payload(out.payload.data(), out.payload.size(), table);
  out.entries = read_entries(staging.data(), table.end);
  return true;
}

bool decode_cache(const uint32_t chain[4], const uint8_t* data, size_t size, cache_view& out,
                  std::string& error) {
  using namespace redirect;
  out = cache_view{};
  if (size < 4 || std::memcmp(data + lcf_magic, cache_magic, sizeof cache_magic) != 0) {
    error = "not a look-up cache file (no \"HTI1\" at its start)";
    return false;
  }
  if (size <= lcf_body || size > lookup_cache_max_size) {
    error = "a cache file holds " + std::to_string(lcf_body + lookup_body_min_size) + " to " +
            std::to_string(lookup_cache_max_size) + " bytes; this one " + std::to_string(size);
    return false;
  }
  const size_t length = bytes::load_u16le(data + lcf_length);
  if (length + lcf_length_base != size) {
    error = "its length field says " + std::to_string(length + lcf_length_base) +
            " bytes, the file holds " + std::to_string(size);
    return false;
  }
  std::memcpy(out.request.id, data + lcf_id, sizeof out.request.id);
  out.request.time = bytes::load_u32le(data + lcf_time);
  out.request.tag = bytes::load_u32le(data + lcf_tag);
  return open_answer(chain, out.request, data + lcf_body, size - lcf_body, out.answer, error);
}

char lookup_kind(const uint8_t* data, size_t size, std::string& error) {
  using namespace redirect;
  if (size < lookup_magic_size + 1 || std::memcmp(data, lookup_magic, lookup_magic_size) != 0) {
    error = "not a lookup datagram (no \"HHHL3\" at its start)";
    return 0;
  }
  if (data[lan_kind] == lookup_request_kind) return 'Q';
  if (data[lan_kind] == lookup_answer_kind) return 'O';
  error = "a lookup datagram of unknown kind " + std::to_string(data[lan_kind]);
  return 0;
}

bool parse_address_table(const std::string& text,
                         std::vector<std::pair<uint32_t, std::vector<uint32_t>>>& out,
                         std::string& error) {
  out.clear();
  const bool read = for_each_listed_line(text, "table", [&](const std::string& where,
                                                            const std::vector<std::string>& words) {
    const std::string& first = words[0];
    uint32_t key = 0;
    if (first.rfind("0x", 0) == 0 || first.rfind("0X", 0) == 0) {
      uint8_t k[4];
      if (!parse_hex_bytes(first.substr(2), k, 4)) {
        error = where + "a key is 0x and 8 hex digits, not \"" + first + "\"";
        return false;
      }
      key = bytes::load_u32be(k);
    } else {
      key = redirect::name_key(first.c_str());
    }
    if (words.size() < 2 || words.size() > 16) {
      error = where + "a name takes 1 to 15 addresses";
      return false;
    }
    std::vector<uint32_t> addresses;
    for (size_t i = 1; i < words.size(); ++i) {
      uint32_t a = 0;
      if (!parse_ipv4(words[i], &a)) {
        error = where + "\"" + words[i] + "\" is not an IPv4 address";
        return false;
      }
      addresses.push_back(a);
    }
    out.emplace_back(key, addresses);
    return true;
  });
  if (!read) return false;
  if (out.empty()) {
    error = "the table names no host";
    return false;
  }
  return true;
}

}  // namespace tool
