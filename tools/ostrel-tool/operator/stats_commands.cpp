// The statistics service's formats for operators: snapshot decode (a captured
// upload, deciphered and verified for the provider IDs given) and session
// decode (the "HRSQ" request and, with its request, the "HRSR" reply).
// Requests are read by the reference service's decoders; a reply is checked
// by the library's own routine, which runs with this build's keys.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "common/file_io.h"
#include "common/output.h"
#include "common/queue_folder_view.h"
#include "common/text_input.h"
#include "deploy_values.h"
#include "operator/deploy_keys.h"
#include "operator/operator_commands.h"
#include "service/deploy_file.h"
#include "service/stats_messages.h"
#include "snapshot/session_messages.h"

namespace tool {
namespace {

struct stats_options {
  std::string deploy = OSTREL_DEPLOY_FILE;
  std::string input, request_file, tsdata;
  std::vector<std::string> providers;
  bool json = false;
};

std::string text_of(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// ---- snapshot decode --------------------------------------------------------

int snapshot_decode(const stats_options& o) {
  service::stats_keys keys;
  std::string error;
  std::vector<uint8_t> data;
  if (!read_stats_keys(o.deploy, keys, error) || !read_input(o.input, data, error)) return refuse(error);
  // A whole captured request: its tsdata header and the body behind the blank line.
  std::string tsdata = o.tsdata;
  const std::string text = text_of(data);
  if (text.rfind("POST ", 0) == 0) {
    const size_t end = text.find("\r\n\r\n");
    if (end == std::string::npos) return refuse(input_name(o.input) + ": an HTTP request without its blank line");
    const std::string header = "X-Ostrel-tsdata: ";
    const size_t at = text.find(header);
    if (at != std::string::npos && at < end && tsdata.empty())
      tsdata = text.substr(at + header.size(), text.find("\r\n", at) - at - header.size());
    data.erase(data.begin(), data.begin() + static_cast<long>(end + 4));
  }
  if (data.size() >= 6 && std::memcmp(data.data(), "HSNAP1", 6) == 0) data.erase(data.begin(), data.begin() + 6);
  if (o.providers.empty()) return refuse("snapshot decode: give the provider ID with --provider");
  service::snapshot_seen seen;
  std::string why;
  if (!service::decode_snapshot_body(keys, data.data(), data.size(), o.providers, seen, why))
    return refuse(input_name(o.input) + ": " + why);
  if (!tsdata.empty() && !service::decode_tsdata(keys, tsdata, seen, why))
    return refuse(input_name(o.input) + ": X-Ostrel-tsdata: " + why);
  const std::string payload(seen.data.begin(), seen.data.end());
  if (o.json) {
    json_object j;
    j.text("provider_id", seen.provider_id).number("time", seen.time).number("game_port", seen.game_port)
        .number("query_port", seen.query_port).text("server_address", ipv4_text(seen.server_address))
        .text("interface_address", ipv4_text(seen.interface_address)).text("data", payload);
    if (!tsdata.empty())
      j.number("service_time", seen.service_time).number("exchange_midpoint", seen.exchange_midpoint)
          .number("start_time", seen.start_time).number("header_time", seen.header_time);
    std::printf("%s\n", j.str().c_str());
  } else {
    std::printf("snapshot of provider \"%s\": time %u, game port %u, query port %u, server %s, interface %s\n",
                seen.provider_id.c_str(), seen.time, seen.game_port, seen.query_port,
                ipv4_text(seen.server_address).c_str(), ipv4_text(seen.interface_address).c_str());
    if (!tsdata.empty())
      std::printf("  tsdata: service time %u, exchange midpoint %u, start time %u, header time %u\n",
                  seen.service_time, seen.exchange_midpoint, seen.start_time, seen.header_time);
    std::printf("  data (%zu bytes): %s\n", seen.data.size(), json_string(payload).c_str());
  }
  return 0;
}

// ---- snapshot queue ---------------------------------------------------------

int snapshot_queue(const stats_options& o) {
  std::string error;
  queue_listing listing;
  if (!list_queue_folder(o.input, listing, error)) return refuse(error);
  service::stats_keys keys;
  if (!o.providers.empty() && !read_stats_keys(o.deploy, keys, error)) return refuse(error);
  // Printed file by file: the folder may hold many large files, and only one
  // body is read at a time.
  if (o.json)
    std::printf("{\"folder\": %s, \"files\": [", json_string(listing.folder).c_str());
  else
    std::printf("queue folder %s: %zu files\n", listing.folder.c_str(), listing.files.size());
  bool first = true;
  read_queue_files(listing, [&](const queued_file& f, const uint8_t* body) {
    service::snapshot_seen seen;
    std::string why;
    const bool decoded = f.sound && !o.providers.empty() &&
                         service::decode_snapshot_body(keys, body, f.body_length, o.providers, seen, why);
    const std::string payload(seen.data.begin(), seen.data.end());
    if (o.json) {
      json_object j;
      j.text("name", f.name).number("size", f.size).text("state", f.state);
      if (f.sound) {
        j.number("sequence", f.sequence).number("submitted", f.submitted).number("body_length", f.body_length);
        if (!o.providers.empty()) {
          if (decoded)
            j.text("provider_id", seen.provider_id).number("time", seen.time).text("data", payload);
          else
            j.text("decode_error", why);
        }
      }
      std::printf("%s%s", first ? "" : ", ", j.str().c_str());
      first = false;
      return;
    }
    if (!f.sound) {
      std::printf("  %s (%llu bytes): %s\n", f.name.c_str(), static_cast<unsigned long long>(f.size),
                  f.state.c_str());
      return;
    }
    std::printf("  %s: snapshot %u, submitted %s, body %u bytes\n", f.name.c_str(), f.sequence,
                utc_text(f.submitted).c_str(), f.body_length);
    if (decoded)
      std::printf("    provider \"%s\", data (%zu bytes): %s\n", seen.provider_id.c_str(), seen.data.size(),
                  json_string(payload).c_str());
    else if (!o.providers.empty())
      std::printf("    not decoded: %s\n", why.c_str());
  });
  if (o.json) std::printf("]}\n");
  return 0;
}

// ---- session decode ---------------------------------------------------------

bool decode_request(const stats_options& o, const service::stats_keys& keys, const std::string& path,
                    service::session_request_seen& seen, std::string& error) {
  std::vector<uint8_t> raw;
  if (!read_input(path, raw, error)) return false;
  const std::vector<uint8_t> data = bytes_or_hex(raw);
  if (data.size() != snapshot::session_datagram_size ||
      std::memcmp(data.data(), snapshot::session_request_magic, 4) != 0) {
    error = input_name(path) + ": not a session request (56 bytes starting with \"HRSQ\")";
    return false;
  }
  if (o.providers.empty()) {
    error = "session decode: give the provider ID with --provider";
    return false;
  }
  if (!service::decode_session_request(keys, data.data(), data.size(), o.providers, seen)) {
    error = input_name(path) + ": the request is not signed by any provider ID given";
    return false;
  }
  return true;
}

int session_decode(const stats_options& o) {
  service::stats_keys keys;
  std::string error;
  std::vector<uint8_t> raw;
  if (!read_stats_keys(o.deploy, keys, error) || !read_input(o.input, raw, error)) return refuse(error);
  const std::vector<uint8_t> data = bytes_or_hex(raw);
  const bool reply = data.size() >= 4 && std::memcmp(data.data(), snapshot::session_reply_magic, 4) == 0;
  if (!reply) {
    service::session_request_seen seen;
    if (!decode_request(o, keys, o.input, seen, error)) return refuse(error);
    if (o.json)
      std::printf("%s\n", json_object().text("kind", "request").text("provider_id", seen.provider_id)
                              .number("time", seen.time).text("interface_address", ipv4_text(seen.interface_address))
                              .text("server_address", ipv4_text(seen.server_address))
                              .number("game_port", seen.game_port).number("query_port", seen.query_port)
                              .number("session_flags", seen.session_flags).number("start_time", seen.start_time)
                              .number("process_id", seen.process_id).text("random", hex_bytes(seen.r, 8))
                              .str().c_str());
    else
      std::printf("session request of provider \"%s\": time %u, interface %s, server %s, game port %u, "
                  "query port %u, session flags %u, start time %u, process %u, random %s\n",
                  seen.provider_id.c_str(), seen.time, ipv4_text(seen.interface_address).c_str(),
                  ipv4_text(seen.server_address).c_str(), seen.game_port, seen.query_port,
                  seen.session_flags, seen.start_time, seen.process_id, hex_bytes(seen.r, 8).c_str());
    return 0;
  }
  if (keys.request_start != deploy::session_request_start_byte ||
      keys.reply_start != deploy::session_reply_start_byte)
    return refuse(o.deploy + ": its session starting bytes are not this build's; check replies with an "
                             "ostrel-tool built with -DOSTREL_DEPLOY=" + o.deploy);
  if (o.request_file.empty()) return refuse("a reply is checked against its request: give --request FILE");
  service::session_request_seen request;
  if (!decode_request(o, keys, o.request_file, request, error)) return refuse(error);
  const snapshot::session_identity id{request.interface_address, request.server_address,
                                      request.game_port, request.query_port};
  uint32_t flags = 0, service_time = 0;
  if (snapshot::check_session_reply(data.data(), data.size(), request.r, id,
                                    request.provider_id.c_str(), &flags, &service_time) != 0)
    return refuse(input_name(o.input) + ": not a valid reply to this request (digest, echo or length)");
  if (o.json)
    std::printf("%s\n", json_object().text("kind", "reply").text("provider_id", request.provider_id)
                            .number("service_time", service_time).number("session_flags", flags)
                            .str().c_str());
  else
    std::printf("session reply for provider \"%s\": service time %u, session flags %u\n",
                request.provider_id.c_str(), service_time, flags);
  return 0;
}

void add_common(CLI::App* cmd, stats_options& o) {
  cmd->add_flag("--json", o.json, "print JSON");
  cmd->add_option("--deploy", o.deploy, "deployment file with the statistics values")->capture_default_str();
}

}  // namespace

void add_stats_commands(CLI::App& app, int& result) {
  auto snap = std::make_shared<stats_options>();
  CLI::App* snapshot = app.add_subcommand("snapshot", "statistics snapshot uploads");
  snapshot->require_subcommand(1);
  CLI::App* snap_decode = snapshot->add_subcommand(
      "decode", "decipher and verify a captured upload (the HTTP request, or its \"HSNAP1\" body)");
  snap_decode->add_option("FILE", snap->input, "the capture (\"-\": standard input)")->required();
  snap_decode->add_option("--provider", snap->providers, "the server's provider ID (repeatable)");
  snap_decode->add_option("--tsdata", snap->tsdata, "the X-Ostrel-tsdata value, when not in the capture");
  add_common(snap_decode, *snap);
  snap_decode->callback([snap, &result] { result = snapshot_decode(*snap); });
  auto queue = std::make_shared<stats_options>();
  CLI::App* snap_queue = snapshot->add_subcommand(
      "queue", "list what waits in a dedicated server's queue folder (and decode it with --provider)");
  snap_queue->add_option("FOLDER", queue->input, "the queue folder, or the per-user folder holding it")
      ->required();
  snap_queue->add_option("--provider", queue->providers, "the server's provider ID (repeatable)");
  add_common(snap_queue, *queue);
  snap_queue->callback([queue, &result] { result = snapshot_queue(*queue); });

  auto sess = std::make_shared<stats_options>();
  CLI::App* session = app.add_subcommand("session", "session exchange datagrams (\"HRSQ\", \"HRSR\")");
  session->require_subcommand(1);
  CLI::App* sess_decode = session->add_subcommand("decode", "a request, or a reply with its request");
  sess_decode->add_option("DATAGRAM", sess->input, "bytes or hex (\"-\": standard input)")->required();
  sess_decode->add_option("--request", sess->request_file, "the request a reply answers");
  sess_decode->add_option("--provider", sess->providers, "the server's provider ID (repeatable)");
  add_common(sess_decode, *sess);
  sess_decode->callback([sess, &result] { result = session_decode(*sess); });
}

}  // namespace tool
