// The dedicated server's flow, step by step.  The expected answers are
// computed here on the service's side (OpenSSL's MD5, the reference service's
// own challenge check and decoding), never taken from the library.
#include "server_flow.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "deploy_values.h"
#include "deployment_keys.h"
#include "service/authorization.h"

namespace server_flow {
namespace {

constexpr uint32_t session_flags_of_service = 5;
constexpr uint32_t granted_flags = 0x80000000u;
constexpr char granted_command[] = "kick all";
constexpr uint16_t player_slot = 7;
constexpr uint32_t player_profile = 123456789;
constexpr char player_name[] = "Flow_Player";
constexpr char player_proof[] = "proof-0123456789abcdefgh";  // 24 bytes

uint32_t loopback(uint8_t last) {
  const uint8_t bytes[4] = {127, 0, 0, last};
  uint32_t address;
  std::memcpy(&address, bytes, 4);
  return address;
}

std::string hex(const uint8_t* bytes, size_t size) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    out += two;
  }
  return out;
}

// The player token as the statistics service computes it from the login it
// knows: MD5 of the proof, the profile id (little-endian) and the lower-cased name.
std::string expected_player_token() {
  std::string input = player_proof;
  for (int i = 0; i < 4; ++i) input += static_cast<char>((player_profile >> (8 * i)) & 0xFF);
  for (const char* c = player_name; *c; ++c)
    input += (*c >= 'A' && *c <= 'Z') ? static_cast<char>(*c - 'A' + 'a') : *c;
  uint8_t digest[16];
  EVP_Digest(input.data(), input.size(), digest, nullptr, EVP_md5(), nullptr);
  return "R4-" + hex(digest, sizeof digest);
}

bool send_from_loopback(const std::vector<uint8_t>& data, uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const ssize_t sent =
      ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  ::close(fd);
  return sent == static_cast<ssize_t>(data.size());
}

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

struct flow_run {
  server& s;
  const narrator& tell;
  std::vector<std::string> failures;
  std::string step_title;

  void step(const std::string& title) {
    step_title = title;
    tell("== " + title);
  }
  void fail(const std::string& what) { failures.push_back(step_title + ": " + what); }
  void check(bool ok, const std::string& what) {
    tell(std::string("  ") + (ok ? "yes: " : "NO:  ") + what);
    if (!ok) fail(what);
  }
  std::string line(bool expression, const std::string& text, const std::string& expected) {
    const std::string answer = expression ? s.eval(text) : s.exec(text);
    tell("  server> " + text + "\n          " + answer);
    if (answer != expected) fail(text + " answered \"" + answer + "\", not \"" + expected + "\"");
    return answer;
  }
  std::string eval(const std::string& text, const std::string& expected) {
    return line(true, text, expected);
  }
  void exec(const std::string& text) { line(false, text, "ok"); }
  // A script line that a helper ran, told and checked as line() does.
  void note(const std::string& text, const std::string& answer, const std::string& expected) {
    tell("  server> " + text + "\n          " + answer);
    if (answer != expected) fail(text + " answered \"" + answer + "\", not \"" + expected + "\"");
  }
};

}  // namespace

std::string identify(server& s) {
  const std::filesystem::path file = std::filesystem::path(s.folder) / provider_file;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::trunc) << provider_id << "\r\n";
  s.answer("mod", "mods/bf2");
  s.answer("sv.serverIP", "127.0.0.1");
  s.answer("sv.interfaceIP", "127.0.0.1");
  s.answer("sv.serverPort", std::to_string(s.game_port));
  s.answer("sv.gameSpyPort", std::to_string(query_port));
  return s.eval("ostrellib.gpaInit()");
}

std::vector<uint8_t> file_md5(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<uint8_t> digest(16);
  EVP_Digest(bytes.data(), bytes.size(), digest.data(), nullptr, EVP_md5(), nullptr);
  return digest;
}

std::string python_bytes(const std::vector<uint8_t>& bytes) {
  std::string text = "'";
  char escaped[5];
  for (uint8_t b : bytes) {
    std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
    text += escaped;
  }
  return text + "'";
}

std::vector<uint8_t> player_connection_packet(uint16_t slot, const std::string& name,
                                              uint32_t profile, const std::string& proof) {
  constexpr size_t skipped = 4;
  std::vector<uint8_t> d(24, 0);
  d[0] = static_cast<uint8_t>(slot << 4);
  d[1] = static_cast<uint8_t>(slot >> 4);
  d[3] = 7;                                          // kind word 7
  d[20] = 0x04;                                      // the connection marker 0x04000000
  d[22] = static_cast<uint8_t>(name.size());         // name length, then the name
  d.insert(d.end(), name.begin(), name.end());
  const size_t at = d.size();
  d.resize(at + 10 + skipped, 0);
  const uint32_t shifted = profile << 1;              // the top bit rides in the next field
  for (int i = 0; i < 4; ++i) d[at + 4 + i] = static_cast<uint8_t>(shifted >> (8 * i));
  d[at + 8] = static_cast<uint8_t>(skipped | (profile >> 31));
  d.push_back(static_cast<uint8_t>(proof.size()));   // proof length, then the proof
  d.push_back(0);
  d.insert(d.end(), proof.begin(), proof.end());
  d.resize(d.size() + 8, 0);
  return d;
}

reference_service::reference_service(ports where)
    : lookup(deploy::lookup_chain, where == ports::fixed ? 29960 : 0),
      web(test_support::deployment_stats_keys(),
          where == ports::fixed ? service::stats_http_port : 0),
      responder(test_support::deployment_stats_keys(),
                where == ports::fixed ? service::session_responder_port : 0),
      collector(where == ports::fixed ? service::log_collector_port : 0, "127.0.0.1") {
  lookup.map_name(deploy::retired_snapshot_host, {loopback(1)});
  lookup.map_name(deploy::retired_stats_host, {loopback(1)});
  lookup.map_name(deploy::retired_stats_web_host, {loopback(21)});
  web.add_provider(provider_id);
  responder.add_provider(provider_id);
  responder.set_flags(session_flags_of_service);
}

bool reference_service::start(std::string* why) {
  if (!lookup.start()) {
    *why = "the lookup service cannot bind 127.0.0.1:" + std::to_string(lookup.port());
    return false;
  }
  std::string error;
  if (!web.start(&error) || !responder.start(&error) || !collector.start(&error)) {
    *why = "a statistics endpoint cannot bind its port: " + error;
    return false;
  }
  return true;
}

void reference_service::stop() {
  collector.stop();
  responder.stop();
  web.stop();
  lookup.stop();
}

std::vector<std::string> run(server& s, reference_service& service, const narrator& tell) {
  flow_run f{s, tell, {}, {}};
  {
    const std::filesystem::path python = std::filesystem::path(s.folder) / "python";
    std::filesystem::remove_all(python / "bf2" / "ostrel");
    std::filesystem::create_directories(python / "bf2" / "stats");
    std::ofstream(python / "bf2" / "__init__.py", std::ios::trunc) << "loaded = 1\n";
  }

  f.step("The game registers its \"host\" module: ostrellib comes with it");
  f.check(s.register_host(), "the host module registered");
  f.exec("import sys, ostrellib");

  // The worker stays idle until gpaInit: these look-ups fetch the table.
  f.step("The statistics hosts' addresses come from the lookup service's table");
  f.eval("ostrellib.netaddr(2)", "ok '127.0.0.1'");
  f.check(service.lookup.requests() >= 1, "the lookup service was asked for its table");
  f.eval("ostrellib.netaddr(1)", "ok '127.0.0.21'");  // the table's own entry, as it stands

  f.step("gpaInit reads the server's identity from the host module");
  f.note("gpaInit()", identify(s), "ok True");
  const std::vector<std::string> read = s.console();
  f.check(read == std::vector<std::string>{"sv.serverIP", "sv.interfaceIP", "sv.serverPort",
                                           "sv.gameSpyPort"},
          "it read sv.serverIP, sv.interfaceIP, sv.serverPort and sv.gameSpyPort");

  f.step("The worker's first session exchange reaches the session responder");
  f.check(wait_until([&] { return !service.responder.exchanges().empty(); }, 15000),
          "a signed session request arrived");
  if (!service.responder.exchanges().empty()) {
    const service::session_request_seen r = service.responder.exchanges().front();
    f.check(r.provider_id == provider_id && r.game_port == s.game_port && r.query_port == query_port &&
                r.server_address == loopback(1) && r.start_time != 0,
            "it carries the provider, ports " + std::to_string(r.game_port) + "/" +
                std::to_string(r.query_port) + " and the start time");
  }
  f.check(wait_until([&] { return s.eval("ostrellib.glsGetFlags()") == "ok 5L"; }, 5000),
          "glsGetFlags reports the responder's flags 5");
  // From here on the service keeps answering with what it grants below.
  service.responder.set_flags(granted_flags);

  f.step("gpaGetString: the reference service verifies every digest of the challenge");
  f.exec("challenge = ostrellib.gpaGetString()");
  const std::string quoted = s.eval("challenge");
  service::challenge_facts facts;
  std::string why = "no challenge: " + quoted;
  const bool verified =
      quoted.size() == 3 + 179 + 2 &&
      service::check_challenge(quoted.substr(4, 179), deploy::session_reply_start_byte,
                               file_md5(s.executable).data(), {provider_id}, {"mods/bf2"}, &facts, &why);
  f.check(verified, "challenge verified" + (verified ? ", game port " + std::to_string(facts.game_port)
                                                     : " (" + why + ")"));

  f.step("The service's response runs its console command and grants the session flags");
  if (verified) {
    const uint8_t salt[16] = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9, 3};
    const std::vector<uint8_t> response =
        service::build_authorization(facts, salt, granted_flags, granted_command);
    f.eval("ostrellib.gpaProcessResponse(" + python_bytes(response) + ")", "ok True");
    const std::vector<std::string> commands = s.console();
    f.check(commands == std::vector<std::string>{granted_command},
            "the host's console was given \"" + std::string(granted_command) + "\"");
    f.eval("ostrellib.glsGetFlags()", "ok -2147483648L");
  }

  f.step("glsSendSnapshot: the statistics web server deciphers it and checks D2 and D3");
  f.eval("ostrellib.glsSendSnapshot('flow-snapshot\\x00data')", "ok True");
  f.check(service.web.wait_for_snapshots(1, 15000), "a snapshot was accepted");
  if (!service.web.snapshots().empty()) {
    const service::snapshot_seen snap = service.web.snapshots().front();
    f.check(snap.provider_id == provider_id &&
                snap.data == std::vector<uint8_t>({'f', 'l', 'o', 'w', '-', 's', 'n', 'a', 'p', 's',
                                                   'h', 'o', 't', 0, 'd', 'a', 't', 'a'}),
            "its check digest (D2) matched the provider and its data digest (D3) the data");
    f.check(snap.game_port == s.game_port && snap.query_port == query_port &&
                snap.server_address == loopback(1) && snap.start_time != 0,
            "its identity: ports " + std::to_string(snap.game_port) + "/" +
                std::to_string(snap.query_port) + ", address 127.0.0.1, the start time");
  }

  f.step("A player connects to the published game port: glsGetAuthInfo gives the player token");
  f.check(s.open_game_socket(), "the game socket is open on 127.0.0.1:" + std::to_string(s.game_port));
  f.check(send_from_loopback(
              player_connection_packet(player_slot, player_name, player_profile, player_proof),
              s.game_port),
          "a connection packet was sent to it");
  f.check(s.receive_on_game_socket(5000), "the game received it");
  const std::string token = expected_player_token();
  tell("  the service's own computation: " + token);
  f.eval("ostrellib.glsGetAuthInfo(" + std::to_string(player_slot) + ", '127.0.0.1', " +
             std::to_string(player_profile) + ")",
         "ok '" + token + "'");

  f.step("log lines reach the log collector, \"%s\" as it stands");
  service.collector.clear();
  f.eval("ostrellib.log('flow %s line')", "ok None");
  bool arrived = false;
  wait_until(
      [&] {
        for (const service::log_record& r : service.collector.records())
          if (r.text == "PY: flow %s line\r\n" && r.setup_value == query_port) arrived = true;
        return arrived;
      },
      5000);
  f.check(arrived, "the collector received \"PY: flow %s line\" from the query port's server");

  f.step("The companion package is imported after \"bf2\" only when its file exists");
  f.exec("sys.modules.pop('bf2.ostrel', None)");
  f.check(s.import_module("bf2") == "ok", "bf2 imported without a companion");
  f.eval("sys.modules.has_key('bf2.ostrel')", "ok False");
  // Only the compiled form, made by this same runtime.
  std::filesystem::create_directories(std::filesystem::path(s.folder) / "python/bf2/ostrel");
  f.exec(R"(import imp, marshal; f = open('python/bf2/ostrel/__init__.pyc', 'wb'); )"
         R"(f.write(imp.get_magic() + '\0\0\0\0' + marshal.dumps(compile('marker = 7\n', )"
         R"('bf2/ostrel/__init__.py', 'exec'))); f.close())");
  f.check(s.import_module("bf2") == "ok", "bf2 imported with python/bf2/ostrel/__init__.pyc alone");
  f.eval("sys.modules['bf2.ostrel'].marker", "ok 7");
  return f.failures;
}

std::string run_for_test(server& s, reference_service& service) {
  std::string story;
  const std::vector<std::string> failed = run(s, service, [&](const std::string& line) {
    story += line + "\n";
  });
  if (failed.empty()) return "";
  std::string out = "what failed:\n";
  for (const std::string& f : failed) out += "  " + f + "\n";
  return out + "the flow as it ran:\n" + story;
}

}  // namespace server_flow
