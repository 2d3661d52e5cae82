// The operators' commands for the lookup protocol: namekey, lookup
// encode/decode and cache decode.  Keyed formats take their chaining state from
// the deployment file (--deploy, by default the one this build was made with).
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "common/file_io.h"
#include "common/output.h"
#include "common/text_input.h"
#include "operator/fresh_bytes.h"
#include "operator/lookup_view.h"
#include "operator/operator_commands.h"
#include "redirect/lookup_protocol.h"
#include "redirect/name_key.h"
#include "service/deploy_file.h"
#include "service/lookup_messages.h"

namespace tool {
namespace {

struct lookup_options {
  std::string deploy = OSTREL_DEPLOY_FILE;
  std::string input;
  std::string request_file;  // a captured request the answer belongs to
  std::string id, nonce, output;
  std::string tag = "0x51816BAC";
  int64_t time = -1;
  bool json = false;
};

void add_deploy_option(CLI::App* cmd, lookup_options& o) {
  cmd->add_option("--deploy", o.deploy, "deployment file with the lookup_chain")
      ->capture_default_str();
}

// What an answer is keyed on: a captured request, or its values one by one.
void add_request_options(CLI::App* cmd, lookup_options& o) {
  cmd->add_option("--request", o.request_file, "the request the answer belongs to");
  cmd->add_option("--id", o.id, "the request's id (16 hex digits)");
  cmd->add_option("--time", o.time, "the request's time (seconds since 1970)");
  cmd->add_option("--tag", o.tag, "the request's tag")->capture_default_str();
}

bool lookup_chain(const lookup_options& o, uint32_t chain[4], std::string& error) {
  service::deploy_values values;
  if (!service::read_deploy_file(o.deploy, values, error)) return false;
  if (!values.chain("lookup_chain", chain)) {
    error = o.deploy + ": no lookup_chain of four 32-bit words";
    return false;
  }
  return true;
}

// The request values an answer is keyed on: from --request, or --id/--time/--tag.
bool request_from_options(const lookup_options& o, const uint32_t chain[4], request_values& out,
                          std::string& error) {
  if (!o.request_file.empty()) {
    std::vector<uint8_t> raw;
    if (!read_input(o.request_file, raw, error)) return false;
    const std::vector<uint8_t> data = bytes_or_hex(raw);
    service::lookup_request_seen seen;
    if (!service::decode_lookup_request(chain, data.data(), data.size(), seen)) {
      error = input_name(o.request_file) + ": not a lookup request";
      return false;
    }
    if (!seen.code_ok) {
      error = input_name(o.request_file) + ": the request's code does not verify with " + o.deploy;
      return false;
    }
    std::memcpy(out.id, seen.id, sizeof out.id);
    out.time = seen.time;
    out.tag = seen.tag;
    return true;
  }
  uint8_t tag[4];
  if (o.id.empty() || o.time < 0 || o.time > 0xFFFFFFFFLL) {
    error = "an answer is keyed on its request: give --request FILE, or --id and --time";
    return false;
  }
  if (!parse_hex_bytes(o.id, out.id, sizeof out.id)) {
    error = "--id takes 16 hex digits, not \"" + o.id + "\"";
    return false;
  }
  if (!parse_hex_bytes(o.tag, tag, sizeof tag)) {
    error = "--tag takes 8 hex digits, not \"" + o.tag + "\"";
    return false;
  }
  out.time = static_cast<uint32_t>(o.time);
  out.tag = bytes::load_u32be(tag);
  return true;
}

std::string entry_json(const address_entry& e) {
  std::vector<std::string> addresses;
  for (uint32_t a : e.addresses) addresses.push_back(json_string(ipv4_text(a)));
  return json_object()
      .text("key", hex_u32(e.key))
      .raw("addresses", json_array(addresses))
      .text("aux_first", ipv4_text(e.aux_first))
      .text("aux_second", ipv4_text(e.aux_second))
      .str();
}

void print_entries(const answer_view& a) {
  std::printf("  %zu entries%s\n", a.entries.size(),
              a.parse_result == 0 ? "" : " (the payload is not valid: a client keeps its old table)");
  for (const address_entry& e : a.entries) {
    std::printf("  %s", hex_u32(e.key).c_str());
    for (uint32_t address : e.addresses) std::printf(" %s", ipv4_text(address).c_str());
    if (e.aux_first || e.aux_second)
      std::printf("  (aux %s %s)", ipv4_text(e.aux_first).c_str(), ipv4_text(e.aux_second).c_str());
    std::printf("\n");
  }
}

json_object answer_json(const answer_view& a) {
  std::vector<std::string> entries;
  for (const address_entry& e : a.entries) entries.push_back(entry_json(e));
  return json_object()
      .text("nonce", hex_bytes(a.nonce, sizeof a.nonce))
      .flag("code_ok", a.code_ok)
      .flag("payload_valid", a.parse_result == 0)
      .raw("entries", json_array(entries));
}

json_object request_json(const request_values& r) {
  return json_object()
      .text("id", hex_bytes(r.id, sizeof r.id))
      .number("time", r.time)
      .text("tag", hex_u32(r.tag));
}

// ---- namekey ----------------------------------------------------------------

void add_namekey(CLI::App& app, int& result) {
  struct options {
    std::vector<std::string> names;
    bool json = false;
  };
  auto o = std::make_shared<options>();
  CLI::App* cmd = app.add_subcommand("namekey", "the name key of each host name");
  cmd->add_option("NAME", o->names, "host names")->required();
  cmd->add_flag("--json", o->json, "print JSON");
  cmd->callback([o, &result] {
    std::vector<std::string> items;
    for (const std::string& name : o->names) {
      const uint32_t key = redirect::name_key(name.c_str());
      if (o->json)
        items.push_back(json_object().text("name", name).text("key", hex_u32(key)).str());
      else
        std::printf("%s %s\n", hex_u32(key).c_str(), name.c_str());
    }
    if (o->json) std::printf("%s\n", json_object().raw("keys", json_array(items)).str().c_str());
    result = 0;
  });
}

// ---- lookup encode / decode -------------------------------------------------

int lookup_encode(const lookup_options& o) {
  uint32_t chain[4];
  std::string error;
  request_values request;
  std::vector<uint8_t> table_text;
  if (!lookup_chain(o, chain, error) || !request_from_options(o, chain, request, error) ||
      !read_input(o.input, table_text, error))
    return refuse(error);
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> table;
  if (!parse_address_table(std::string(table_text.begin(), table_text.end()), table, error))
    return refuse(input_name(o.input) + ": " + error);
  uint8_t nonce[8];
  if (!given_or_fresh("--nonce", o.nonce, nonce, sizeof nonce, error)) return refuse(error);
  size_t left_out = 0;
  const service::lookup_payload payload = service::payload_from_table(table, &left_out);
  if (left_out > 0)
    return refuse(input_name(o.input) + ": " + std::to_string(left_out) +
                  " entries do not fit in one answer (255 names and addresses, 2000 bytes)");
  const std::vector<uint8_t> datagram =
      service::build_lookup_answer(chain, request.id, request.time, request.tag, nonce, payload.bytes());
  if (!o.output.empty() && !replace_file(o.output, datagram, error)) return refuse(error);
  if (o.json)
    std::printf("%s\n", json_object()
                            .number("size", datagram.size())
                            .number("entries", table.size())
                            .text("datagram", hex_bytes(datagram.data(), datagram.size()))
                            .str().c_str());
  else if (o.output.empty())
    std::printf("%s\n", hex_bytes(datagram.data(), datagram.size()).c_str());
  else
    std::printf("%s: lookup answer of %zu bytes, %zu entries\n", o.output.c_str(), datagram.size(),
                table.size());
  return 0;
}

int lookup_decode(const lookup_options& o) {
  uint32_t chain[4];
  std::string error;
  std::vector<uint8_t> raw;
  if (!lookup_chain(o, chain, error) || !read_input(o.input, raw, error)) return refuse(error);
  const std::vector<uint8_t> data = bytes_or_hex(raw);
  const char kind = lookup_kind(data.data(), data.size(), error);
  if (kind == 0) return refuse(input_name(o.input) + ": " + error);

  if (kind == 'Q') {
    service::lookup_request_seen seen;
    if (!service::decode_lookup_request(chain, data.data(), data.size(), seen) ||
        data.size() > redirect::lookup_request_max_size)
      return refuse(input_name(o.input) + ": a lookup request holds 38 to " +
                    std::to_string(redirect::lookup_request_max_size) + " bytes; this one " +
                    std::to_string(data.size()));
    if (!seen.code_ok)
      return refuse(input_name(o.input) + ": the request's code does not verify with " + o.deploy);
    request_values r;
    std::memcpy(r.id, seen.id, sizeof r.id);
    r.time = seen.time;
    r.tag = seen.tag;
    const std::string record = hex_bytes(seen.host_image_record.data(), seen.host_image_record.size());
    if (o.json)
      std::printf("%s\n", request_json(r).text("kind", "request").text("host_image_record", record)
                              .flag("code_ok", true).str().c_str());
    else
      std::printf("lookup request, %zu bytes: id %s, time %u (%s), tag %s%s\n  host image record %s\n",
                  data.size(), hex_bytes(r.id, 8).c_str(), r.time, utc_text(r.time).c_str(),
                  hex_u32(r.tag).c_str(), r.tag == redirect::lookup_client_tag ? "" : " (not the client's)",
                  record.empty() ? "(none)" : record.c_str());
    return 0;
  }

  request_values request;
  if (!request_from_options(o, chain, request, error)) return refuse(error);
  answer_view answer;
  if (!open_answer(chain, request, data.data() + redirect::lan_body, data.size() - redirect::lan_body,
                   answer, error))
    return refuse(input_name(o.input) + ": " + error);
  if (!answer.code_ok)
    return refuse(input_name(o.input) + ": the answer's code does not verify for this request with " +
                  o.deploy);
  if (o.json) {
    std::printf("%s\n", answer_json(answer).text("kind", "answer").number("size", data.size())
                            .raw("request", request_json(request).str()).str().c_str());
  } else {
    std::printf("lookup answer, %zu bytes, nonce %s, code verifies\n", data.size(),
                hex_bytes(answer.nonce, 8).c_str());
    print_entries(answer);
  }
  return 0;
}

void add_lookup(CLI::App& app, int& result) {
  CLI::App* lookup = app.add_subcommand("lookup", "lookup service datagrams (\"HHHL3\")");
  lookup->require_subcommand(1);

  auto e = std::make_shared<lookup_options>();
  CLI::App* encode = lookup->add_subcommand(
      "encode", "build a signed answer from a table of \"NAME-or-0xKEY ADDRESS...\" lines");
  encode->add_option("TABLE", e->input, "the table (\"-\": standard input)")->required();
  add_request_options(encode, *e);
  encode->add_option("--nonce", e->nonce, "the answer's nonce (16 hex digits; random if not given)");
  encode->add_option("-o,--output", e->output, "write the datagram to this file");
  encode->add_flag("--json", e->json, "print JSON");
  add_deploy_option(encode, *e);
  encode->callback([e, &result] { result = lookup_encode(*e); });

  auto d = std::make_shared<lookup_options>();
  CLI::App* decode = lookup->add_subcommand(
      "decode", "decode and verify a request or an answer (bytes or hex; answers need their request)");
  decode->add_option("DATAGRAM", d->input, "the datagram (\"-\": standard input)")->required();
  add_request_options(decode, *d);
  decode->add_flag("--json", d->json, "print JSON");
  add_deploy_option(decode, *d);
  decode->callback([d, &result] { result = lookup_decode(*d); });
}

// ---- cache decode -----------------------------------------------------------

int cache_decode(const lookup_options& o) {
  uint32_t chain[4];
  std::string error;
  std::vector<uint8_t> data;
  if (!lookup_chain(o, chain, error) || !read_input(o.input, data, error)) return refuse(error);
  cache_view cache;
  if (!decode_cache(chain, data.data(), data.size(), cache, error)) return refuse(input_name(o.input) + ": " + error);
  if (!cache.answer.code_ok)
    return refuse(input_name(o.input) + ": the cached answer's code does not verify with " + o.deploy);
  const int64_t age = static_cast<int64_t>(std::time(nullptr)) - cache.request.time;
  if (o.json) {
    std::printf("%s\n", answer_json(cache.answer).text("kind", "cache").number("size", data.size())
                            .raw("request", request_json(cache.request).str())
                            .raw("age_seconds", std::to_string(age)).str().c_str());
  } else {
    std::printf("look-up cache file, %zu bytes: request id %s, time %u (%s, %lld s ago), tag %s\n",
                data.size(), hex_bytes(cache.request.id, 8).c_str(), cache.request.time,
                utc_text(cache.request.time).c_str(), static_cast<long long>(age),
                hex_u32(cache.request.tag).c_str());
    print_entries(cache.answer);
  }
  return 0;
}

void add_cache(CLI::App& app, int& result) {
  CLI::App* cache = app.add_subcommand("cache", "look-up cache files (\"network_N_TAG\", \"HTI1\")");
  cache->require_subcommand(1);
  auto o = std::make_shared<lookup_options>();
  CLI::App* decode = cache->add_subcommand("decode", "a cache file's request, age and table");
  decode->add_option("FILE", o->input, "the cache file (\"-\": standard input)")->required();
  decode->add_flag("--json", o->json, "print JSON");
  add_deploy_option(decode, *o);
  decode->callback([o, &result] { result = cache_decode(*o); });
}

}  // namespace

void add_lookup_commands(CLI::App& app, int& result) {
  add_namekey(app, result);
  add_lookup(app, result);
  add_cache(app, result);
}

}  // namespace tool
