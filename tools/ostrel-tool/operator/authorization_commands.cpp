// challenge check and response build: a dedicated server's authorization as
// the statistics service sees it.  The challenge is read and every digest
// checked by the reference service's code, with what the service knows (the
// server executable, the provider IDs it issued, the mod directories it
// accepts) and the deployment file's starting byte; the response is built by
// the same code.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "common/file_io.h"
#include "common/output.h"
#include "common/text_input.h"
#include "operator/deploy_keys.h"
#include "operator/fresh_bytes.h"
#include "operator/operator_commands.h"
#include "script/challenge.h"
#include "service/authorization.h"

namespace tool {
namespace {

struct authorization_options {
  std::string deploy = OSTREL_DEPLOY_FILE;
  std::string challenge;  // the text itself, a file holding it, or "-"
  std::string exe, exe_md5;
  std::vector<std::string> providers, mods;
  uint32_t flags = 0;
  std::string command, salt, output;
  bool json = false;
};

// What the argument names, for refusals: the challenge given in full is
// named so, a file by its path.
std::string challenge_name(const std::string& argument) {
  return argument.rfind("R4-", 0) == 0 ? "the challenge" : input_name(argument);
}

// The challenge text: the argument itself when it starts with "R4-", else the
// file (or standard input) it names, without surrounding white space.
bool challenge_text(const std::string& argument, std::string& out, std::string& error) {
  if (argument.rfind("R4-", 0) == 0) {
    out = argument;
    return true;
  }
  std::vector<uint8_t> raw;
  if (!read_input(argument, raw, error)) return false;
  out.assign(raw.begin(), raw.end());
  const char* blank = " \t\r\n";
  const size_t first = out.find_first_not_of(blank);
  out = first == std::string::npos ? "" : out.substr(first, out.find_last_not_of(blank) - first + 1);
  return true;
}

// The executable digest as the server computes it: the file read whole by the
// library's routine, or the MD5 the operator gives.
bool executable_digest(const authorization_options& o, uint8_t out[16], std::string& error) {
  if (!o.exe.empty() && !o.exe_md5.empty()) {
    error = "give --exe or --exe-md5, not both";
    return false;
  }
  if (!o.exe.empty()) {
    std::error_code ec;
    std::FILE* file = std::filesystem::is_regular_file(o.exe, ec) ? std::fopen(o.exe.c_str(), "rb")
                                                                   : nullptr;
    if (!file) {
      error = o.exe + ": cannot open (no readable file)";
      return false;
    }
    script::file_digest(file, out);
    std::fclose(file);
    return true;
  }
  if (o.exe_md5.empty()) {
    error = "give the server's executable with --exe FILE or its MD5 with --exe-md5";
    return false;
  }
  if (!parse_hex_bytes(o.exe_md5, out, 16)) {
    error = "--exe-md5 takes 32 hex digits, not \"" + o.exe_md5 + "\"";
    return false;
  }
  return true;
}

struct read_result {
  std::string text;
  uint8_t executable[16] = {};
  service::challenge_facts facts;
  service::challenge_digests digests;
};

// Reads the challenge and checks each digest; false and one line when the
// input is unusable (a challenge whose digests differ is read all the same).
bool read_and_check(const authorization_options& o, read_result& r, std::string& error) {
  service::stats_keys keys;
  if (!read_stats_keys(o.deploy, keys, error) || !executable_digest(o, r.executable, error) ||
      !challenge_text(o.challenge, r.text, error))
    return false;
  if (o.providers.empty() || o.mods.empty()) {
    error = "give the provider IDs the service issued (--provider) and the mod directories it "
            "accepts (--mod)";
    return false;
  }
  std::string why;
  if (!service::read_challenge(r.text, keys.reply_start, r.executable, o.providers, o.mods, &r.facts,
                               &r.digests, &why)) {
    error = challenge_name(o.challenge) + ": " + why;
    return false;
  }
  return true;
}

std::string field(const std::string& text, size_t at, size_t length) { return text.substr(at, length); }

// "  mod digest          a9db9c3f4820fbfe verifies for mod directory ..."
void print_digest(const char* name, const std::string& digits, bool ok, const std::string& detail) {
  std::printf("  %-19s %s %s%s%s\n", name, digits.c_str(), ok ? "verifies" : "DIFFERS",
              detail.empty() ? "" : " ", detail.c_str());
}

void print_report(const read_result& r) {
  const service::challenge_facts& f = r.facts;
  const service::challenge_digests& d = r.digests;
  const bool verifies = service::challenge_failure(d) == nullptr;
  std::printf("challenge %s\n", verifies ? "verifies" : "does NOT verify");
  std::printf("  nonce               %s\n", field(r.text, script::cs_nonce, 32).c_str());
  std::printf("  time                %u (%s)\n", f.time, utc_text(f.time).c_str());
  std::printf("  game port           %u\n", f.game_port);
  std::printf("  query port          %u\n", f.query_port);
  std::printf("  interface address   %s\n", ipv4_text(bytes::load_u32le(f.interface_address)).c_str());
  std::printf("  server address      %s\n", ipv4_text(bytes::load_u32le(f.server_address)).c_str());
  print_digest("identity digest", field(r.text, script::cs_identity_digest, 32), d.identity, "");
  if (!d.identity)
    std::printf("    (another deployment's starting byte, or an altered challenge: the fields above "
                "are not to be trusted)\n");
  print_digest("mod digest", field(r.text, script::cs_mod_digest, 16), d.mod,
               d.mod ? "for mod directory " + json_string(f.mod_directory) : "(no --mod given matches)");
  print_digest("provider digest", field(r.text, script::cs_provider_digest, 32), d.provider,
               d.provider ? "for provider ID " + json_string(f.provider_id)
                          : "(no --provider given matches)");
  print_digest("executable check", field(r.text, script::cs_executable_check, 32), d.executable,
               "for executable MD5 " + hex_bytes(r.executable, 16));
}

std::string report_json(const read_result& r) {
  const service::challenge_facts& f = r.facts;
  const service::challenge_digests& d = r.digests;
  json_object j;
  j.flag("verifies", service::challenge_failure(d) == nullptr)
      .text("nonce", field(r.text, script::cs_nonce, 32))
      .number("time", f.time)
      .text("time_utc", utc_text(f.time))
      .number("game_port", f.game_port)
      .number("query_port", f.query_port)
      .text("interface_address", ipv4_text(bytes::load_u32le(f.interface_address)))
      .text("server_address", ipv4_text(bytes::load_u32le(f.server_address)))
      .text("identity_digest", field(r.text, script::cs_identity_digest, 32))
      .flag("identity_ok", d.identity)
      .text("mod_digest", field(r.text, script::cs_mod_digest, 16))
      .flag("mod_ok", d.mod);
  if (d.mod) j.text("mod_directory", f.mod_directory);
  j.text("provider_digest", field(r.text, script::cs_provider_digest, 32)).flag("provider_ok", d.provider);
  if (d.provider) j.text("provider_id", f.provider_id);
  j.text("executable_check_digest", field(r.text, script::cs_executable_check, 32))
      .flag("executable_ok", d.executable)
      .text("executable_md5", hex_bytes(r.executable, 16));
  return j.str();
}

// The report goes out whole even when a digest differs (that is what an
// operator looks for); the exit code and the one refusal line say it failed.
int challenge_check(const authorization_options& o) {
  read_result r;
  std::string error;
  if (!read_and_check(o, r, error)) return refuse(error);
  if (o.json)
    std::printf("%s\n", report_json(r).c_str());
  else
    print_report(r);
  std::fflush(stdout);
  if (const char* failure = service::challenge_failure(r.digests))
    return refuse(challenge_name(o.challenge) + ": the challenge does not verify (" + failure + ")");
  return 0;
}

int response_build(const authorization_options& o) {
  if (o.command.size() > script::command_max)
    return refuse("--command: a granted command has at most " + std::to_string(script::command_max) +
                  " characters, not " + std::to_string(o.command.size()));
  read_result r;
  std::string error;
  uint8_t salt[16];
  if (!read_and_check(o, r, error) || !given_or_fresh("--salt", o.salt, salt, sizeof salt, error))
    return refuse(error);
  if (const char* failure = service::challenge_failure(r.digests))
    return refuse(challenge_name(o.challenge) + ": the challenge does not verify (" + failure +
                  "); see ostrel-tool challenge check");
  const std::vector<uint8_t> response = service::build_authorization(r.facts, salt, o.flags, o.command);
  if (!o.output.empty() && !replace_file(o.output, response, error)) return refuse(error);
  const std::string hex = hex_bytes(response.data(), response.size());
  if (o.json)
    std::printf("%s\n", json_object()
                            .number("size", response.size())
                            .number("flags", o.flags)
                            .text("command", o.command)
                            .text("provider_id", r.facts.provider_id)
                            .text("mod_directory", r.facts.mod_directory)
                            .text("response", hex)
                            .str().c_str());
  else if (o.output.empty())
    std::printf("%s\n", hex.c_str());
  else
    std::printf("%s: authorization response of %zu bytes, flags %s, command %s\n", o.output.c_str(),
                response.size(), hex_u32(o.flags).c_str(), json_string(o.command).c_str());
  return 0;
}

void add_challenge_options(CLI::App* cmd, authorization_options& o) {
  cmd->add_option("CHALLENGE", o.challenge,
                  "the challenge (\"R4-...\"), or a file holding it (\"-\": standard input)")
      ->required();
  cmd->add_option("--exe", o.exe, "the dedicated server's executable (its MD5 is taken)");
  cmd->add_option("--exe-md5", o.exe_md5, "or the executable's MD5 (32 hex digits)");
  cmd->add_option("--provider", o.providers, "a provider ID the service issued (repeatable)");
  cmd->add_option("--mod", o.mods, "a mod directory the service accepts (repeatable)");
  cmd->add_flag("--json", o.json, "print JSON");
  cmd->add_option("--deploy", o.deploy, "deployment file with the session reply starting byte")
      ->capture_default_str();
}

}  // namespace

void add_authorization_commands(CLI::App& app, int& result) {
  auto c = std::make_shared<authorization_options>();
  CLI::App* challenge = app.add_subcommand("challenge", "a dedicated server's authorization challenge");
  challenge->require_subcommand(1);
  CLI::App* check = challenge->add_subcommand(
      "check", "read a challenge, show its fields and whether each digest verifies");
  add_challenge_options(check, *c);
  check->callback([c, &result] { result = challenge_check(*c); });

  auto r = std::make_shared<authorization_options>();
  CLI::App* response = app.add_subcommand("response", "the statistics service's authorization response");
  response->require_subcommand(1);
  CLI::App* build = response->add_subcommand(
      "build", "the response granting session flags and a console command to a verified challenge");
  add_challenge_options(build, *r);
  build->add_option("--flags", r->flags, "session flags to grant (decimal, or 0x and hex)")
      ->capture_default_str();
  build->add_option("--command", r->command, "console command to run (at most 11 characters)");
  build->add_option("--salt", r->salt, "the response's salt (32 hex digits; random if not given)");
  build->add_option("-o,--output", r->output, "write the response's bytes to this file");
  build->callback([r, &result] { result = response_build(*r); });
}

}  // namespace tool
