// The script module inside a real Python 2 interpreter: registration through
// the hooks, every function's results, errors and exception types, the
// authorization handshake against the reference statistics service, the
// companion package, and reference counts balanced after every call.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/service_state.h"
#include "deploy_values.h"
#include "redirect/address_table.h"
#include "redirect/host_entry.h"
#include "redirect/lookup_refresh.h"
#include "redirect_fixture.h"
#include "embedded_runtime.h"
#include "platform/native/test_controls.h"
#include "platform/platform.h"
#include "script/module_frame.h"
#include "script/tokens.h"
#include "server_flow.h"
#include "service/authorization.h"
#include "service/lookup_messages.h"
#include "snapshot/snapshot_queue.h"
#include "sockets/player_logins.h"
#include "sockets/traffic_state.h"
#include "working_folder.h"

namespace {

using runtime_test::answer_kind;
using runtime_test::eval;
using runtime_test::exec;

std::string exe_path() { return std::filesystem::current_path().string() + "/w32ded/server.exe"; }

class ScriptModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    runtime_test::start_runtime();
    working_folder::write("w32ded/server.exe", std::string("MZ server executable\0bytes", 26));
    // No lookup exchange during these tests: the name hook answers from the
    // table and the resolver that the tests set.
    redirect::last_refresh_time = 0xF0000000u;
    ASSERT_TRUE(runtime_test::register_host("host"));
    ASSERT_EQ(exec("import sys, ostrellib, host"), "ok");
  }
  static void TearDownTestSuite() { platform::test::set_executable_path(nullptr); }
  void SetUp() override {
    platform::test::use_real_clock();
    platform::test::set_executable_path(exe_path().c_str());
    runtime_test::clear_answers();
    runtime_test::console_log().clear();
    set_server("10.0.0.5", "192.168.1.20", "16567", "29900");
  }
  static void set_server(const std::string& ip, const std::string& interface_ip,
                         const std::string& game_port, const std::string& query_port) {
    runtime_test::set_answer("sv.serverIP", answer_kind::text, ip);
    runtime_test::set_answer("sv.interfaceIP", answer_kind::text, interface_ip);
    runtime_test::set_answer("sv.serverPort", answer_kind::text, game_port);
    runtime_test::set_answer("sv.gameSpyPort", answer_kind::text, query_port);
  }
  static std::string log_text() {
    std::string all;
    for (const auto& e : std::filesystem::recursive_directory_iterator("logs"))
      if (e.is_regular_file()) {
        std::ifstream in(e.path(), std::ios::binary);
        all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      }
    return all;
  }
};

TEST_F(ScriptModule, OnlyTheHostRegistrationBringsTheModuleWithItsElevenRows) {
  const char* expected[] = {"gpaInit",        "gpaGetString",    "gpaProcessResponse",
                            "glsGetFlags",    "glsCheck",        "glsGetHostname",
                            "glsGetDocument", "glsSendSnapshot", "glsGetAuthInfo",
                            "netaddr",        "log"};
  script::py_method* rows = script::module_methods();
  for (size_t i = 0; i < 11; ++i) {
    EXPECT_STREQ(rows[i].name, expected[i]);
    EXPECT_STREQ(rows[i].doc, "");
  }
  EXPECT_EQ(rows[11].name, nullptr);
  // A module of another name (or case) registers, but brings nothing.
  ASSERT_EQ(exec("del sys.modules['ostrellib']"), "ok");
  ASSERT_TRUE(runtime_test::register_host("Host"));
  ASSERT_TRUE(runtime_test::register_host("hostx"));
  EXPECT_EQ(eval("'ostrellib' in sys.modules"), "ok False");
  ASSERT_TRUE(runtime_test::register_host("host"));
  EXPECT_EQ(eval("'ostrellib' in sys.modules"), "ok True");
  EXPECT_EQ(exec("import ostrellib"), "ok");
}

TEST_F(ScriptModule, ResultsAndErrorsOfTheServiceFunctions) {
  const std::string web = deploy::retired_stats_web_host, stats = deploy::retired_stats_host,
                    snap = deploy::retired_snapshot_host;
  const struct {
    const char* line;
    std::string answer;
  } cases[] = {
      {"ostrellib.glsGetDocument(1)", "ok '/ASP/getrankstatus.aspx'"},
      {"ostrellib.glsGetDocument(3)", "ok '/ASP/getrankstatus.aspx'"},
      {"ostrellib.glsGetDocument(4)", "exc IndexError Invalid index: 4"},
      {"ostrellib.glsGetHostname(1)", "ok '" + web + "'"},
      {"ostrellib.glsGetHostname(2)", "ok '" + stats + "'"},
      {"ostrellib.glsGetHostname(3)", "ok '" + snap + "'"},
      {"ostrellib.glsGetHostname(0)", "exc IndexError Invalid index: 0"},
      {"ostrellib.netaddr(4)", "exc ValueError Invalid index: 4"},
      {"ostrellib.netaddr(-1)", "exc ValueError Invalid index: -1"},
      {"ostrellib.log('a %s b %d')", "ok None"},
      {"len(ostrellib.glsCheck(''))", "ok 48"},
      {"len(ostrellib.glsCheck('a\\0b' * 100))", "ok 48"},
      {"ostrellib.glsGetAuthInfo(3, 'no address', 5)", "ok ''"},
  };
  for (const auto& c : cases) EXPECT_EQ(eval(c.line), c.answer) << c.line;
  EXPECT_NE(log_text().find("PY: a %s b %d\r\n"), std::string::npos);

  // Wrong arguments: the runtime's own TypeError, nothing else.
  for (const char* line : {"ostrellib.glsGetHostname('x')", "ostrellib.glsGetDocument()",
                           "ostrellib.netaddr(1, 2)", "ostrellib.log(5)", "ostrellib.glsCheck(None)",
                           "ostrellib.gpaProcessResponse(1)", "ostrellib.glsGetAuthInfo(1, 2, 3)",
                           "ostrellib.glsGetFlags(1)", "ostrellib.log('a\\0b')"})
    EXPECT_EQ(eval(line).rfind("exc TypeError", 0), 0u) << line;
  EXPECT_EQ(eval("ostrellib.glsCheck('x') != ostrellib.glsCheck('x')"), "ok True");
}

// A resolver that knows every name at 192.0.2.44.
void* resolver_answer(const char*) {
  static uint8_t address[4] = {192, 0, 2, 44};
  static char* list[2] = {reinterpret_cast<char*>(address), nullptr};
  static char* aliases[1] = {nullptr};
  static char name[] = "resolved";
  static redirect::host_entry entry{name, aliases, 2, 4, list};
  return &entry;
}

// The table's entries answer first, the statistics web host's too, which the
// name hook would never hand out as it stands; the resolver is not asked.
TEST_F(ScriptModule, AddressesFromTheTableThenThroughTheResolver) {
  platform::test::set_real_gethostbyname(resolver_answer);
  ASSERT_EQ(redirect_test::install_payload(
                service::payload_from_table({{0x7FE59444u, {redirect_test::ip(10, 20, 30, 1)}},
                                             {0x05BF381Du, {redirect_test::ip(10, 20, 30, 2)}}})
                    .bytes()),
            0);
  EXPECT_EQ(eval("ostrellib.netaddr(1)"), "ok '10.20.30.1'");
  EXPECT_EQ(eval("ostrellib.netaddr(2)"), "ok '10.20.30.2'");
  EXPECT_EQ(eval("ostrellib.netaddr(3)"), "ok '10.20.30.2'");
  redirect::address_table_release();
  ASSERT_EQ(redirect::address_table_allocate(), 0);

  platform::test::set_real_gethostbyname(nullptr);
  EXPECT_EQ(eval("ostrellib.netaddr(2)"), "exc RuntimeError Hostname for index 2 does not exist");
  platform::test::set_real_gethostbyname(resolver_answer);
  EXPECT_EQ(eval("ostrellib.netaddr(3)"), "ok '192.0.2.44'");
  EXPECT_EQ(eval("ostrellib.netaddr(2)"), "ok '192.0.2.44'");
  platform::test::set_real_gethostbyname(nullptr);
}

TEST_F(ScriptModule, InitReadsPortsAndAddressesFromTheHost) {
  ASSERT_EQ(eval("ostrellib.gpaInit()"), "ok True");
  const core::service_state& s = *core::service;
  EXPECT_EQ(s.game_port, 16567u);
  EXPECT_EQ(s.query_port, 29900u);
  EXPECT_EQ(sockets::published_game_port(), 16567u);
  const uint8_t server[4] = {10, 0, 0, 5};
  EXPECT_EQ(std::memcmp(&s.server_address, server, 4), 0);
  EXPECT_STREQ(s.mod_directory, "mods/bf2");
  EXPECT_NE(s.start_time, 0u);
  EXPECT_EQ(runtime_test::console_log(),
            (std::vector<std::string>{"sv.serverIP", "sv.interfaceIP", "sv.serverPort",
                                      "sv.gameSpyPort"}));

  // Port texts: the first token's leading digits, 1 to 65535.
  const struct {
    const char* port;
    const char* answer;
  } ports[] = {{"16000 x", "ok True"},
               {"0", "exc ValueError fatal error (2)"},
               {"65536", "exc ValueError fatal error (2)"},
               {"", "exc ValueError fatal error (2)"},
               {"abc", "exc ValueError fatal error (2)"},
               {"4294967297", "exc ValueError fatal error (2)"}};
  for (const auto& p : ports) {
    set_server("10.0.0.6", "192.168.1.20", p.port, "29901");
    EXPECT_EQ(eval("ostrellib.gpaInit()"), p.answer) << p.port;
  }
  // The failures kept what the last success stored.
  EXPECT_EQ(s.game_port, 16000u);
  const uint8_t later[4] = {10, 0, 0, 6};
  EXPECT_EQ(std::memcmp(&s.server_address, later, 4), 0);

  // A 25-character address text keeps 19 characters: no address.
  set_server("10.0.0.7.1234567890123456", "192.168.1.20 x", "16567", "29900");
  ASSERT_EQ(eval("ostrellib.gpaInit()"), "ok True");
  EXPECT_EQ(s.server_address, 0xFFFFFFFFu);

  runtime_test::set_answer("mod", answer_kind::integer, "5");
  EXPECT_EQ(eval("ostrellib.gpaInit()"), "exc TypeError fatal error (4)");
  runtime_test::set_answer("mod", answer_kind::fail, "no mod here");
  EXPECT_EQ(eval("ostrellib.gpaInit()"), "exc RuntimeError no mod here");
  runtime_test::set_answer("mod", answer_kind::text, "mods/bf2");
  runtime_test::set_answer("sv.interfaceIP", answer_kind::fail, "no such variable");
  EXPECT_EQ(eval("ostrellib.gpaInit()"), "exc RuntimeError no such variable");
}

TEST_F(ScriptModule, HandshakeWithTheReferenceService) {
  set_server("10.0.0.5", "192.168.1.20", "16567", "29900");
  ASSERT_EQ(eval("ostrellib.gpaInit()"), "ok True");
  ASSERT_EQ(exec("challenge = ostrellib.gpaGetString()"), "ok");
  std::string quoted = eval("challenge");
  ASSERT_EQ(quoted.size(), 3u + 179 + 2) << quoted;
  const std::string challenge = quoted.substr(4, 179);
  const std::vector<uint8_t> exe = server_flow::file_md5(exe_path());
  service::challenge_facts facts;
  std::string why;
  ASSERT_TRUE(service::check_challenge(challenge, deploy::session_reply_start_byte, exe.data(),
                                       {core::service->provider_id}, {"mods/bf2"}, &facts, &why))
      << why;
  EXPECT_EQ(facts.game_port, 16567);
  EXPECT_EQ(eval("ostrellib.gpaGetString() != challenge"), "ok True");

  // The response to the newest challenge runs its command and grants flags.
  ASSERT_EQ(exec("challenge = ostrellib.gpaGetString()"), "ok");
  ASSERT_TRUE(service::check_challenge(eval("challenge").substr(4, 179),
                                       deploy::session_reply_start_byte, exe.data(),
                                       {core::service->provider_id}, {"mods/bf2"}, &facts, &why));
  const uint8_t salt[16] = {7, 7, 7, 7, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2};
  const std::vector<uint8_t> grant = service::build_authorization(facts, salt, 0x80000000u, "kick all");
  runtime_test::console_log().clear();
  EXPECT_EQ(eval("ostrellib.gpaProcessResponse(" + server_flow::python_bytes(grant) + ")"), "ok True");
  EXPECT_EQ(eval("ostrellib.gpaProcessResponse(" + server_flow::python_bytes(grant) + " + 'x' * 12)"), "ok True");
  EXPECT_EQ(runtime_test::console_log(), (std::vector<std::string>{"kick all", "kick all"}));
  EXPECT_EQ(eval("ostrellib.glsGetFlags()"), "ok -2147483648L");

  // Refusals: short, too long a command, an older challenge.
  std::vector<uint8_t> shorter(grant.begin(), grant.begin() + 47);
  EXPECT_EQ(eval("ostrellib.gpaProcessResponse(" + server_flow::python_bytes(shorter) + ")"), "ok False");
  const std::vector<uint8_t> twelve = service::build_authorization(facts, salt, 1, "abcdefghijk", 12);
  EXPECT_EQ(eval("ostrellib.gpaProcessResponse(" + server_flow::python_bytes(twelve) + ")"), "ok False");
  const std::vector<uint8_t> eleven = service::build_authorization(facts, salt, 3, "abcdefghijk");
  runtime_test::set_answer("abcdefghijk", answer_kind::fail, "console refused");
  EXPECT_EQ(eval("ostrellib.gpaProcessResponse(" + server_flow::python_bytes(eleven) + ")"),
            "exc RuntimeError console refused");
  EXPECT_EQ(eval("ostrellib.glsGetFlags()"), "ok -2147483648L");
  ASSERT_EQ(exec("ostrellib.gpaGetString()"), "ok");
  EXPECT_EQ(eval("ostrellib.gpaProcessResponse(" + server_flow::python_bytes(grant) + ")"), "ok False");
}

// Each call runs 100 times: a result or an object of the host module held or
// released once too often moves a count by 100, while the interpreter's own
// bookkeeping of the statement moves it by a few at most.
TEST_F(ScriptModule, ReferenceCountsStayBalanced) {
  ASSERT_EQ(eval("ostrellib.gpaInit()"), "ok True");
  ASSERT_EQ(exec("def counts(): return [sys.getrefcount(o) for o in (True, False, None, host)]\n"
                 "def drift(call):\n"
                 "  call()\n"
                 "  before = counts()\n"
                 "  for i in range(100): call()\n"
                 "  return max([abs(a - b) for a, b in zip(counts(), before)]) < 10\n"),
            "ok");
  const char* calls[] = {"ostrellib.gpaInit()", "ostrellib.gpaGetString()",
                         "ostrellib.gpaProcessResponse('x' * 48)", "ostrellib.glsGetFlags()",
                         "ostrellib.glsCheck('abc')", "ostrellib.glsGetHostname(2)",
                         "ostrellib.glsGetDocument(2)", "ostrellib.glsGetAuthInfo(1, '1.2.3.4', 9)",
                         "ostrellib.log('x')", "ostrellib.glsSendSnapshot('data')",
                         "ostrellib.netaddr(1)", "ostrellib.glsGetDocument(9)"};
  for (const char* call : calls)
    EXPECT_EQ(exec(std::string("def call():\n  try: return ") + call +
                   "\n  except (IndexError, RuntimeError): pass\n"),
              "ok");
  for (const char* call : calls) {
    ASSERT_EQ(exec(std::string("def call():\n  try: return ") + call +
                   "\n  except (IndexError, RuntimeError): pass\n"),
              "ok");
    EXPECT_EQ(eval("drift(call)"), "ok True") << call;
  }
  // Failing paths release what they took too.
  runtime_test::set_answer("mod", answer_kind::integer, "5");
  ASSERT_EQ(exec("def call():\n  try: ostrellib.gpaInit()\n  except TypeError: pass\n"), "ok");
  EXPECT_EQ(eval("drift(call)"), "ok True");
  EXPECT_EQ(eval("drift(ostrellib.gpaGetString)"), "ok True");
  snapshot::queue_reset();
}

TEST_F(ScriptModule, SnapshotsAreNumberedAndQueued) {
  snapshot::queue_reset();
  snapshot::submission_counter = 0xFFFFFFFEu;
  EXPECT_EQ(eval("ostrellib.glsSendSnapshot('')"), "ok True");
  EXPECT_EQ(eval("ostrellib.glsSendSnapshot('abc')"), "ok True");
  EXPECT_EQ(snapshot::submission_counter, 0u);
  snapshot::snapshot_record first, second;
  ASSERT_EQ(snapshot::dequeue(&first), 0);
  ASSERT_EQ(snapshot::dequeue(&second), 0);
  if (first.body_length != 64) std::swap(first, second);
  EXPECT_EQ(first.sequence, 0xFFFFFFFFu);
  EXPECT_EQ(first.body_length, 64u);
  EXPECT_EQ(second.sequence, 1u);  // the counter wrapped to 0: the sequence is 1
  EXPECT_EQ(second.body_length, 67u);
  snapshot::release_snapshot(first);
  snapshot::release_snapshot(second);
  EXPECT_NE(log_text().find("SNAPSHOT: 0 bytes submitted\r\n"), std::string::npos);
}

TEST_F(ScriptModule, PlayerTokenFromTheCapturedLogin) {
  sockets::player_logins_clear();
  const uint8_t address[4] = {10, 1, 2, 3};
  uint32_t stored;
  std::memcpy(&stored, address, 4);
  const std::string name = "PlayerOne", proof = "proof-bytes-0123";
  sockets::store_login(3, stored, 4000000000u, reinterpret_cast<const uint8_t*>(name.data()),
                       name.size(), reinterpret_cast<const uint8_t*>(proof.data()), proof.size());
  char token[script::player_token_size];
  script::make_player_token(reinterpret_cast<const uint8_t*>(proof.data()), proof.size(), 4000000000u,
                            reinterpret_cast<const uint8_t*>(name.data()), name.size(), token);
  EXPECT_EQ(eval("ostrellib.glsGetAuthInfo(65539, '10.1.2.3', 4000000000)"),
            "ok '" + std::string(token) + "'");
  EXPECT_EQ(eval("ostrellib.glsGetAuthInfo(3, '10.1.2.3', -294967296)"),
            "ok '" + std::string(token) + "'");  // "k" wraps negatives
  EXPECT_EQ(eval("ostrellib.glsGetAuthInfo(259, '10.1.2.3', 4000000000)"), "ok ''");
  EXPECT_EQ(eval("ostrellib.glsGetAuthInfo(3, '10.1.2.3', 4000000001)"), "ok ''");
  EXPECT_EQ(eval("ostrellib.glsGetAuthInfo(3, '10.1.2.4', 4000000000)"), "ok ''");
}

TEST_F(ScriptModule, CompanionPackageFollowsBf2OnlyWhenItsFileExists) {
  std::filesystem::remove_all("python/bf2/ostrel");
  ASSERT_EQ(exec("sys.dont_write_bytecode = True; sys.modules.pop('bf2.ostrel', None)"), "ok");
  working_folder::write("python/bf2/__init__.py", "loaded = 1\n");
  EXPECT_EQ(runtime_test::import_module("bf2"), "ok");
  EXPECT_EQ(eval("'bf2.ostrel' in sys.modules"), "ok False");

  working_folder::write("python/bf2/ostrel/__init__.py", "raise ValueError('companion broken')\n");
  EXPECT_EQ(runtime_test::import_module("bf2"), "exc ValueError companion broken");
  working_folder::write("python/bf2/ostrel/__init__.py", "marker = 7\n");
  EXPECT_EQ(runtime_test::import_module("bf2"), "ok");
  EXPECT_EQ(eval("sys.modules['bf2.ostrel'].marker"), "ok 7");
  // Only the compiled form, made by this runtime, is enough.
  ASSERT_EQ(exec("del sys.modules['bf2.ostrel']"), "ok");
  ASSERT_EQ(exec("import imp, marshal; f = open('python/bf2/ostrel/__init__.pyc', 'wb'); "
                 "f.write(imp.get_magic() + '\\0' * 4 + marshal.dumps(compile('marker = 8', "
                 "'bf2/ostrel/__init__.py', 'exec'))); f.close()"),
            "ok");
  std::filesystem::remove("python/bf2/ostrel/__init__.py");
  EXPECT_EQ(runtime_test::import_module("bf2"), "ok");
  EXPECT_EQ(eval("sys.modules['bf2.ostrel'].marker"), "ok 8");
  // Other names never bring it.
  ASSERT_EQ(exec("del sys.modules['bf2.ostrel']"), "ok");
  working_folder::write("python/bf2/other.py", "x = 1\n");
  EXPECT_EQ(runtime_test::import_module("bf2.other"), "ok");
  EXPECT_EQ(eval("'bf2.ostrel' in sys.modules"), "ok False");
}

}  // namespace
