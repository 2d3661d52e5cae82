// The dedicated server's script module under Wine: hostsim's server copy runs
// the real Python 2 runtime (dice_py.dll) and calls Py_InitModule4 and
// PyImport_ImportModule through its import table, which ostrel.dll patched at
// load time.  The handshake is checked against the reference statistics
// service's own computation.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "deploy_values.h"
#include "loopback_peer.h"
#include "server_flow.h"
#include "service/authorization.h"
#include "wine_host.h"

namespace e2e {
namespace {

void write_file(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class ScriptServer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::remove_all(server_dir() + "/python");
    write_file(server_dir() + "/python/bf2/__init__.py", "loaded = 1\n");
    ASSERT_TRUE(host_.start(server_dir()));
    ASSERT_EQ(host_.command("py_start"), "ok");
  }
  void TearDown() override {
    host_.stop();
    std::filesystem::remove_all(server_dir() + "/python");
  }
  hostsim host_;
};

TEST_F(ScriptServer, RegistrationOfHostBringsTheModule) {
  EXPECT_EQ(host_.command("host_register Host"), "ok");
  EXPECT_EQ(host_.command("py __import__('sys').modules.has_key('ostrellib')"), "ok False");
  EXPECT_EQ(host_.command("host_register host"), "ok");
  EXPECT_EQ(host_.command("pyx import ostrellib, sys, host"), "ok");
  EXPECT_EQ(host_.command("py ostrellib.glsGetDocument(2)"), "ok '/ASP/getrankstatus.aspx'");
  EXPECT_EQ(host_.command("py ostrellib.glsGetHostname(4)"), "exc IndexError Invalid index: 4");
  EXPECT_EQ(host_.command("py ostrellib.netaddr(0)"), "exc ValueError Invalid index: 0");
  EXPECT_EQ(host_.command("py ostrellib.glsGetHostname('x')").rfind("exc TypeError", 0), 0u);
  EXPECT_EQ(host_.command("py ostrellib.glsGetFlags()"), "ok 0L");
  EXPECT_EQ(host_.command("py ostrellib.log('%s literally')"), "ok None");
  EXPECT_EQ(host_.command("py len(ostrellib.glsCheck('a\\0b'))"), "ok 48");
  // Counts stay where they were after many calls.
  EXPECT_EQ(host_.command("pyx b = [sys.getrefcount(o) for o in (True, None, host)]"), "ok");
  // A hundred log lines take a while under an emulated machine.
  EXPECT_EQ(host_.command("pyx for i in range(100): ostrellib.log('x'); ostrellib.glsGetDocument(1)",
                          120000),
            "ok");
  EXPECT_EQ(host_.command("py max([abs(x - y) for x, y in zip(b, [sys.getrefcount(o) for o in "
                          "(True, None, host)])]) < 10"),
            "ok True");
}

TEST_F(ScriptServer, HandshakeVerifiedByTheReferenceService) {
  ASSERT_EQ(host_.command("host_register host"), "ok");
  for (const char* line : {"host_answer sv.serverIP text 10.0.0.5", "host_answer sv.interfaceIP text 127.0.0.1",
                           "host_answer sv.serverPort text 16567 x", "host_answer sv.gameSpyPort text 29900",
                           "host_answer mod text mods/bf2"})
    ASSERT_EQ(host_.command(line), "ok");
  ASSERT_EQ(host_.command("pyx import ostrellib"), "ok");
  EXPECT_EQ(host_.command("py ostrellib.gpaInit()", 30000), "ok True");
  EXPECT_EQ(host_.command("host_answer sv.serverPort text 65536"), "ok");
  EXPECT_EQ(host_.command("py ostrellib.gpaInit()", 30000), "exc ValueError fatal error (2)");
  EXPECT_EQ(host_.command("host_answer sv.serverPort text 16567"), "ok");

  ASSERT_EQ(host_.command("pyx challenge = ostrellib.gpaGetString()"), "ok");
  const std::string quoted = host_.command("py challenge");
  ASSERT_EQ(quoted.size(), 3u + 179 + 2) << quoted;  // ok '...'
  const std::string challenge = quoted.substr(4, 179);
  const std::vector<uint8_t> exe = server_flow::file_md5(server_dir() + "/hostsim.exe");
  service::challenge_facts facts;
  std::string why;
  ASSERT_TRUE(service::check_challenge(challenge, deploy::session_reply_start_byte, exe.data(), {""},
                                       {"mods/bf2"}, &facts, &why))
      << why;
  EXPECT_EQ(facts.game_port, 16567);
  EXPECT_EQ(facts.query_port, 29900);

  const uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const std::vector<uint8_t> grant = service::build_authorization(facts, salt, 0x80000000u, "kick all");
  ASSERT_EQ(host_.command("host_commands_clear"), "ok");
  EXPECT_EQ(host_.command("py ostrellib.gpaProcessResponse(" + server_flow::python_bytes(grant) + ")"), "ok True");
  EXPECT_EQ(host_.command("host_commands"), "ok " + to_hex({'k', 'i', 'c', 'k', ' ', 'a', 'l', 'l'}));
  EXPECT_EQ(host_.command("py ostrellib.glsGetFlags()"), "ok -2147483648L");
  std::vector<uint8_t> short_one(grant.begin(), grant.begin() + 47);
  EXPECT_EQ(host_.command("py ostrellib.gpaProcessResponse(" + server_flow::python_bytes(short_one) + ")"),
            "ok False");
}

TEST_F(ScriptServer, CompanionPackageFollowsBf2WhenPresent) {
  EXPECT_EQ(host_.command("import bf2"), "ok");
  EXPECT_EQ(host_.command("py __import__('sys').modules.has_key('bf2.ostrel')"), "ok False");
  host_.stop();
  write_file(server_dir() + "/python/bf2/ostrel/__init__.py", "marker = 7\n");
  ASSERT_TRUE(host_.start(server_dir()));
  ASSERT_EQ(host_.command("py_start"), "ok");
  EXPECT_EQ(host_.command("import bf2"), "ok");
  EXPECT_EQ(host_.command("py __import__('sys').modules['bf2.ostrel'].marker"), "ok 7");
}

}  // namespace
}  // namespace e2e
