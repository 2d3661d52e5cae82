// Host-name redirection inside hostsim under Wine, against the reference
// lookup service on 127.0.0.1:29960: the exchange and its interval, the cache
// file in the per-user folder and a restarted client answering from it, names
// that must reach the real resolver untouched (compared with the plain copy
// of hostsim), the statistics web host by settings file and registry, the
// per-thread answer blocks, and an answer from an unexpected sender.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "deploy_values.h"
#include "digest/md5.h"
#include "service/lookup_service.h"
#include "wine_host.h"

namespace e2e {
namespace {

using fault = service::lookup_service::fault;

uint32_t ip(const char* text) {
  in_addr a{};
  inet_pton(AF_INET, text, &a);
  return a.s_addr;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The host image tag: the MD5 of the executable, as the DLL names its files.
std::string image_tag(const std::string& executable) {
  std::vector<uint8_t> bytes = read_file(executable);
  digest::md5_context ctx;
  digest::md5_start(ctx);
  digest::md5_update(ctx, bytes.data(), static_cast<uint32_t>(bytes.size()));
  digest::md5_final(ctx);
  char hex[digest::md5_hex_size];
  digest::md5_hex(ctx, hex);
  return hex;
}


class Lookup : public ::testing::Test {
 protected:
  void SetUp() override {
    service_.map_name("master.legacy.test", {ip("10.20.30.40"), ip("10.20.30.39")});
    service_.map_name("stats.legacy.test", {ip("10.20.30.43")});
    service_.map_name(deploy::retired_stats_web_host, {ip("10.20.30.49")});
    service_.map_name(deploy::ranking_host_official, {ip("10.20.30.41")});
    service_.map_name(deploy::ranking_host_fmrcq, {ip("10.20.30.42")});
    // Names the real resolver knows too, so that "untouched" shows.
    service_.map_name("localhost", {ip("10.20.30.44")});
    service_.map_name("127.0.0.1", {ip("10.20.30.45")});
    ASSERT_TRUE(service_.start()) << "127.0.0.1:29960 is taken";

    ASSERT_TRUE(plain_.start(plain_dir()));
    const std::string roaming = plain_.command("appdata");
    ASSERT_EQ(roaming.rfind("ok ", 0), 0u) << roaming;
    cache_file_ = unix_path(roaming.substr(3) + "\\Ostrel\\network_0_" +
                            image_tag(client_dir() + "/hostsim.exe"));
    std::filesystem::remove(cache_file_);
    settings_file_ = client_dir() + "/ostrel_hostsim.exe.cfg";
    std::filesystem::remove(settings_file_);
    for (const char* value : {"client_opmode", "rkgRetail", "rkgMods"})
      plain_.command(std::string("reg_delete hkcu ") + value);
  }
  void TearDown() override {
    std::filesystem::remove(settings_file_);
    for (const char* value : {"client_opmode", "rkgRetail", "rkgMods"})
      plain_.command(std::string("reg_delete hkcu ") + value);
    service_.stop();
  }

  // The real resolver's own answer, from the copy of hostsim without ostrel.dll.
  std::string untouched(const std::string& name) { return plain_.command("resolve " + name); }

  service::lookup_service service_{deploy::lookup_chain, 29960};
  hostsim plain_;
  std::string cache_file_;
  std::string settings_file_;
};

TEST_F(Lookup, ClientExchangesOnceWritesTheCacheAndARestartAnswersFromIt) {
  {
    hostsim client;
    ASSERT_TRUE(client.start(client_dir()));
    EXPECT_EQ(client.command("resolve master.legacy.test"),
              "ok name=master.legacy.test type=2 len=4 addrs=10.20.30.40 aliases=");
    EXPECT_EQ(service_.requests(), 1);
    EXPECT_EQ(client.command("resolve Stats.Legacy.Test"),
              "ok name=Stats.Legacy.Test type=2 len=4 addrs=10.20.30.43 aliases=");
    EXPECT_EQ(service_.requests(), 1) << "a second look-up within the interval sends nothing";
  }

  const std::vector<uint8_t> file = read_file(cache_file_);
  const std::vector<uint8_t> answer = service_.last_answer();
  const auto seen = service_.received();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].code_ok);
  EXPECT_EQ(seen[0].host_image_record.size(), 46u);
  ASSERT_EQ(file.size(), answer.size() + 16) << cache_file_;
  EXPECT_EQ(std::memcmp(file.data(), "HTI1", 4), 0);
  EXPECT_EQ(bytes::load_u16le(file.data() + 4), file.size() - 6);
  EXPECT_EQ(std::memcmp(file.data() + 6, seen[0].id, 8), 0);
  EXPECT_EQ(bytes::load_u32le(file.data() + 14), seen[0].time);
  EXPECT_EQ(bytes::load_u32le(file.data() + 18), 0x51816BACu);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 22, file.end()),
            std::vector<uint8_t>(answer.begin() + 6, answer.end()));

  // A restarted client finds the service silent and answers from the file.
  service_.set_fault(fault::silence);
  service_.reset_counts();
  hostsim restarted;
  ASSERT_TRUE(restarted.start(client_dir()));
  EXPECT_EQ(restarted.command("resolve master.legacy.test"),
            "ok name=master.legacy.test type=2 len=4 addrs=10.20.30.40 aliases=");
  EXPECT_GE(service_.requests(), 1);
}

TEST_F(Lookup, ServerCopyExchangesOnceAndWritesNoCache) {
  hostsim server;
  ASSERT_TRUE(server.start(server_dir()));
  EXPECT_EQ(server.command("resolve master.legacy.test"),
            "ok name=master.legacy.test type=2 len=4 addrs=10.20.30.40 aliases=");
  EXPECT_EQ(server.command("resolve master.legacy.test"),
            "ok name=master.legacy.test type=2 len=4 addrs=10.20.30.40 aliases=");
  EXPECT_EQ(service_.requests(), 1) << "a second look-up within the interval sends nothing";
  EXPECT_FALSE(std::filesystem::exists(cache_file_));
}

TEST_F(Lookup, DigitNamesAndALauncherVerdictOfZeroReachTheRealResolverUntouched) {
  {
    hostsim client;
    ASSERT_TRUE(client.start(client_dir()));
    EXPECT_EQ(client.command("resolve 127.0.0.1"), untouched("127.0.0.1"));
    EXPECT_EQ(service_.requests(), 0) << "no exchange for a name starting with a digit";
  }
  ASSERT_EQ(plain_.command("reg_set hkcu dword client_opmode 0"), "ok");
  hostsim client;
  ASSERT_TRUE(client.start(client_dir()));
  const std::string real = untouched("localhost");
  ASSERT_EQ(real.rfind("ok ", 0), 0u) << real;
  EXPECT_EQ(client.command("resolve localhost"), real);
  EXPECT_EQ(service_.requests(), 0) << "no exchange while the launcher says no";

  ASSERT_EQ(plain_.command("reg_set hkcu dword client_opmode 2"), "ok");
  EXPECT_EQ(client.command("resolve localhost"),
            "ok name=localhost type=2 len=4 addrs=10.20.30.44 aliases=");
  EXPECT_EQ(service_.requests(), 1);
}

TEST_F(Lookup, StatisticsWebHostBySettingsFileAndRankingSelection) {
  const std::string web = deploy::retired_stats_web_host;
  const struct {
    const char* settings;  // nullptr: no settings file
    const char* rkg_retail;
    std::string expected;
  } cases[] = {
      {"bf2web = hosts\n", nullptr, untouched(web)},
      {"bf2web = lookup:localhost\n", nullptr, untouched("localhost")},
      {nullptr, nullptr,
       std::string("ok name=") + deploy::ranking_host_official + " type=2 len=4 addrs=10.20.30.41 aliases="},
      {nullptr, "fmrcq",
       std::string("ok name=") + deploy::ranking_host_fmrcq + " type=2 len=4 addrs=10.20.30.42 aliases="},
      {nullptr, "custom;1;localhost;rest", "ok name=localhost type=2 len=4 addrs=10.20.30.44 aliases="},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings ? c.settings : c.rkg_retail ? c.rkg_retail : "defaults");
    std::filesystem::remove(settings_file_);
    if (c.settings) std::ofstream(settings_file_) << c.settings;
    plain_.command("reg_delete hkcu rkgRetail");
    if (c.rkg_retail) {
      ASSERT_EQ(plain_.command(std::string("reg_set hkcu sz rkgRetail ") + c.rkg_retail), "ok");
    }
    hostsim client;
    ASSERT_TRUE(client.start(client_dir()));
    EXPECT_EQ(client.command("resolve " + web), c.expected);
  }
}

TEST_F(Lookup, AnswersOnOneThreadShareABlockAndThreadsHaveTheirOwn) {
  hostsim client;
  ASSERT_TRUE(client.start(client_dir()));
  const auto first = words(client.command("resolve_ptr master.legacy.test"));
  const auto second = words(client.command("resolve_ptr stats.legacy.test"));
  ASSERT_GE(first.size(), 3u);
  ASSERT_GE(second.size(), 3u);
  EXPECT_EQ(first[1], second[1]) << "same block, overwritten by the second answer";
  EXPECT_EQ(second[2], "name=stats.legacy.test");

  const std::string many = client.command("resolve_threads 6 master.legacy.test");
  ASSERT_EQ(many.rfind("ok ", 0), 0u) << many;
  std::set<std::string> pointers;
  size_t answers = 0;
  for (size_t at = 3; at != std::string::npos; ++answers) {
    const size_t end = many.find(" | ", at);
    const auto w = words(many.substr(at, end == std::string::npos ? end : end - at));
    ASSERT_EQ(w.size(), 6u) << many;
    pointers.insert(w[0]);
    EXPECT_EQ(w[1], "name=master.legacy.test");
    EXPECT_EQ(w[4], "addrs=10.20.30.40");
    at = end == std::string::npos ? end : end + 3;
  }
  EXPECT_EQ(answers, 6u);
  EXPECT_EQ(pointers.size(), 6u) << "one block per thread";
  EXPECT_EQ(pointers.count(first[1]), 0u);
}

TEST_F(Lookup, ProcessesExitCleanlyAfterLookUps) {
  // An ending process detaches the library after its other threads are gone:
  // the detach takes no lock and frees nothing, and the process exits with
  // its own status.
  for (auto dir : {client_dir, server_dir}) {
    hostsim host;
    ASSERT_TRUE(host.start(dir()));
    EXPECT_EQ(host.command("resolve master.legacy.test").rfind("ok ", 0), 0u);
    EXPECT_EQ(host.stop(), 0);
  }
}

TEST_F(Lookup, ValidAnswerFromAnUnexpectedSenderIsIgnored) {
  service_.set_fault(fault::other_sender);
  hostsim client;
  ASSERT_TRUE(client.start(client_dir()));
  const std::string answer = client.command("resolve master.legacy.test");
  EXPECT_EQ(answer, untouched("master.relay.test")) << "suffix swapped, real resolver";
  EXPECT_GE(service_.answers(), 1) << "answers were sent, and ignored";
  EXPECT_FALSE(std::filesystem::exists(cache_file_));
}

}  // namespace
}  // namespace e2e
