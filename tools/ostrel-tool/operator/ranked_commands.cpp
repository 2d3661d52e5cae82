// ranked sign / verify / decode: the ranked server list's blob, sealed by the
// reference master server's code from a text list, and verified and listed by
// the library's own routines.  Those run with the keys this build was made
// with, so a deployment file whose ranked keys differ is refused, not
// silently checked with other keys.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "common/file_io.h"
#include "common/output.h"
#include "common/text_input.h"
#include "deploy_values.h"
#include "operator/fresh_bytes.h"
#include "operator/operator_commands.h"
#include "operator/server_list.h"
#include "ranked/ranked_blob.h"
#include "ranked/ranked_file.h"
#include "service/deploy_file.h"
#include "service/ranked_messages.h"

namespace tool {
namespace {

struct ranked_options {
  std::string deploy = OSTREL_DEPLOY_FILE;
  std::string input, nonce, output;
  uint32_t serial = 1;
  uint16_t default_port = 16567;
  bool json = false;
};

bool ranked_keys_of(const ranked_options& o, service::ranked_keys& keys, std::string& error) {
  service::deploy_values values;
  if (!service::read_deploy_file(o.deploy, values, error)) return false;
  if (!service::read_ranked_keys(values, keys)) {
    error = o.deploy + ": no ranked_key_chain, ranked_mac_chain and ranked_feedback";
    return false;
  }
  return true;
}

bool keys_are_this_builds(const ranked_options& o, std::string& error) {
  service::ranked_keys keys;
  if (!ranked_keys_of(o, keys, error)) return false;
  if (std::memcmp(keys.key_chain, deploy::ranked_key_chain, sizeof keys.key_chain) != 0 ||
      std::memcmp(keys.mac_chain, deploy::ranked_mac_chain, sizeof keys.mac_chain) != 0 ||
      std::memcmp(keys.feedback, deploy::ranked_feedback, sizeof keys.feedback) != 0) {
    error = o.deploy + ": its ranked keys are not this build's; verify with an ostrel-tool built "
                       "with -DOSTREL_DEPLOY=" + o.deploy;
    return false;
  }
  return true;
}

int sign(const ranked_options& o) {
  service::ranked_keys keys;
  std::string error;
  std::vector<uint8_t> text;
  if (!ranked_keys_of(o, keys, error) || !read_input(o.input, text, error)) return refuse(error);
  std::vector<service::ranked_server> servers;
  if (!parse_server_list(std::string(text.begin(), text.end()), o.default_port, servers, error))
    return refuse(input_name(o.input) + ": " + error);
  uint8_t nonce[ranked::ranked_nonce_size];
  if (!given_or_fresh("--nonce", o.nonce, nonce, sizeof nonce, error)) return refuse(error);
  const std::vector<uint8_t> blob =
      service::seal_ranked_blob(keys, nonce, service::ranked_body(o.serial, o.default_port, servers));
  if (blob.size() > ranked::ranked_blob_max_size)
    return refuse(input_name(o.input) + ": the blob would exceed " +
                  std::to_string(ranked::ranked_blob_max_size) + " bytes");
  if (!o.output.empty() && !replace_file(o.output, blob, error)) return refuse(error);
  if (o.json)
    std::printf("%s\n", json_object().number("size", blob.size()).number("servers", servers.size())
                            .text("blob", hex_bytes(blob.data(), blob.size())).str().c_str());
  else if (o.output.empty())
    std::printf("%s\n", hex_bytes(blob.data(), blob.size()).c_str());
  else
    std::printf("%s: ranked list blob of %zu bytes, %zu servers\n", o.output.c_str(), blob.size(),
                servers.size());
  return 0;
}

// Verifies and lists a blob with the library's routines.
int list_blob(const ranked_options& o, std::vector<uint8_t> blob, const char* what) {
  if (ranked::verify_ranked_blob(blob.data(), blob.size()) != 0)
    return refuse(input_name(o.input) + ": the " + what + " does not verify (version, length " +
                  std::to_string(blob.size()) + " or signature)");
  std::vector<uint8_t> table(ranked::ranked_table_size);
  const size_t count = ranked::build_ranked_table(blob.data(), blob.size(), table.data());
  const uint32_t deciphered_serial = bytes::load_u32le(blob.data() + ranked::rlb_serial);
  const uint16_t default_port = bytes::load_u16le(blob.data() + ranked::rlb_default_port);
  std::vector<std::string> items;
  if (!o.json)
    std::printf("ranked list %s, %zu bytes, signature verifies: serial %u, default port %u, %zu servers\n",
                what, blob.size(), deciphered_serial, default_port, count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = table.data() + i * ranked::ranked_entry_size;
    const std::string address = ipv4_text(bytes::load_u32le(e + ranked::rle_address));
    const unsigned port = bytes::load_u32be(e + ranked::rle_port) >> 16;
    const unsigned flags = bytes::load_u16le(e + ranked::rle_flags);
    if (o.json)
      items.push_back(json_object().text("address", address).number("port", port)
                          .number("flags", flags).str());
    else
      std::printf("  %s:%u flags %u\n", address.c_str(), port, flags);
  }
  if (o.json)
    std::printf("%s\n", json_object().text("kind", what).number("size", blob.size())
                            .number("serial", deciphered_serial).number("default_port", default_port)
                            .raw("servers", json_array(items)).str().c_str());
  return 0;
}

int verify(const ranked_options& o) {
  std::string error;
  std::vector<uint8_t> raw;
  if (!keys_are_this_builds(o, error) || !read_input(o.input, raw, error)) return refuse(error);
  return list_blob(o, bytes_or_hex(raw), "blob");
}

int decode_file(const ranked_options& o) {
  std::string error;
  std::vector<uint8_t> file;
  if (!keys_are_this_builds(o, error) || !read_input(o.input, file, error)) return refuse(error);
  if (file.size() < ranked::rlf_blob ||
      std::memcmp(file.data() + ranked::rlf_magic, ranked::ranked_file_magic, 4) != 0)
    return refuse(input_name(o.input) + ": not a \"rankedservers\" file (no \"HRC1\" at its start)");
  const uint32_t length = bytes::load_u32le(file.data() + ranked::rlf_length);
  if (length != file.size() - ranked::rlf_blob)
    return refuse(input_name(o.input) + ": its length field says a blob of " + std::to_string(length) +
                  " bytes, the file holds " + std::to_string(file.size() - ranked::rlf_blob));
  return list_blob(o, std::vector<uint8_t>(file.begin() + ranked::rlf_blob, file.end()), "file");
}

}  // namespace

void add_ranked_commands(CLI::App& app, int& result) {
  CLI::App* ranked = app.add_subcommand("ranked", "the ranked server list (blob and \"rankedservers\" file)");
  ranked->require_subcommand(1);

  auto s = std::make_shared<ranked_options>();
  CLI::App* sign_cmd = ranked->add_subcommand(
      "sign", "seal a blob from a list of \"ADDRESS[:PORT] [FLAGS]\" lines");
  sign_cmd->add_option("LIST", s->input, "the server list (\"-\": standard input)")->required();
  sign_cmd->add_option("--serial", s->serial, "the list's serial number")->capture_default_str();
  sign_cmd->add_option("--default-port", s->default_port, "the port most servers use")
      ->capture_default_str();
  sign_cmd->add_option("--nonce", s->nonce, "the blob's nonce (32 hex digits; random if not given)");
  sign_cmd->add_option("-o,--output", s->output, "write the blob to this file");

  auto v = std::make_shared<ranked_options>();
  CLI::App* verify_cmd = ranked->add_subcommand("verify", "verify a blob and list its servers");
  verify_cmd->add_option("BLOB", v->input, "the blob, bytes or hex (\"-\": standard input)")->required();

  auto d = std::make_shared<ranked_options>();
  CLI::App* decode_cmd = ranked->add_subcommand("decode", "read a \"rankedservers\" file");
  decode_cmd->add_option("FILE", d->input, "the file (\"-\": standard input)")->required();

  for (auto [cmd, o] : {std::pair{sign_cmd, s}, std::pair{verify_cmd, v}, std::pair{decode_cmd, d}}) {
    cmd->add_flag("--json", o->json, "print JSON");
    cmd->add_option("--deploy", o->deploy, "deployment file with the ranked keys")->capture_default_str();
  }
  sign_cmd->callback([s, &result] { result = sign(*s); });
  verify_cmd->callback([v, &result] { result = verify(*v); });
  decode_cmd->callback([d, &result] { result = decode_file(*d); });
}

}  // namespace tool
