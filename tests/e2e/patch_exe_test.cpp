// A player's two steps under Wine: the plain copy of hostsim (linked to
// WS2_32.dll) is patched by ostrel-tool.exe and then runs through ostrel.dll
// beside it: its start-up creates the per-user folder and its look-ups go
// through the name hook to the reference lookup service.  --restore gives the
// original back.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "deploy_values.h"
#include "pe/pe_imports.h"
#include "service/lookup_service.h"
#include "wine_host.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using bytes_t = std::vector<uint8_t>;

bytes_t read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return bytes_t(std::istreambuf_iterator<char>(in), {});
}

// Runs ostrel-tool.exe under Wine in dir; its wait status and output.
int tool_under_wine(const std::string& dir, const std::string& arguments, std::string* out) {
  return wine_through_files(dir, "ostrel-tool.exe " + arguments, "", out);
}

TEST(PatchExeUnderWine, PatchedPlainCopyRunsThroughOstrelDll) {
  const std::string dir = std::string(OSTREL_BUILD_DIR) + "/e2e-patched-game";
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const std::string& file :
       {plain_dir() + "/hostsim.exe", win_bin() + "/ostrel.dll", win_bin() + "/ostrel-tool.exe"})
    fs::copy_file(file, dir + "/" + fs::path(file).filename().string());
  const bytes_t original = read_all(dir + "/hostsim.exe");

  std::string out;
  ASSERT_EQ(tool_under_wine(dir, "patch-exe --check hostsim.exe", &out), 0) << out;
  EXPECT_NE(out.find("imports WS2_32.dll; patch-exe would make it import ostrel.dll"),
            std::string::npos) << out;
  ASSERT_EQ(tool_under_wine(dir, "patch-exe hostsim.exe", &out), 0) << out;
  EXPECT_NE(out.find("now imports ostrel.dll"), std::string::npos) << out;
  EXPECT_EQ(read_all(dir + "/hostsim.exe.ostrel-backup"), original);
  bytes_t expected = original;
  pe::import_plan plan;
  std::string error;
  ASSERT_EQ(pe::plan_import_patch(expected.data(), expected.size(), plan, error), 0) << error;
  pe::apply_import_patch(expected.data(), expected.size(), plan);
  EXPECT_EQ(read_all(dir + "/hostsim.exe"), expected) << "the Windows build patches as the native one";
  ASSERT_EQ(tool_under_wine(dir, "patch-exe --check hostsim.exe", &out), 0) << out;
  EXPECT_NE(out.find("already patched"), std::string::npos) << out;

  std::string roaming;
  {
    hostsim plain;
    ASSERT_TRUE(plain.start(plain_dir()));
    const std::string answer = plain.command("appdata");
    ASSERT_EQ(answer.rfind("ok ", 0), 0u) << answer;
    roaming = answer.substr(3);
  }
  fs::remove_all(unix_path(roaming + "\\Ostrel"));

  in_addr address{};
  inet_pton(AF_INET, "10.20.30.40", &address);
  service::lookup_service lookup{deploy::lookup_chain, 29960};
  lookup.map_name("master.legacy.test", {address.s_addr});
  ASSERT_TRUE(lookup.start()) << "127.0.0.1:29960 is taken";
  {
    hostsim patched;
    ASSERT_TRUE(patched.start(dir));
    EXPECT_EQ(patched.command("exists " + roaming + "\\Ostrel"), "ok none") << "made at load";
    EXPECT_EQ(patched.command("resolve master.legacy.test"),
              "ok name=master.legacy.test type=2 len=4 addrs=10.20.30.40 aliases=");
    EXPECT_EQ(lookup.requests(), 1);
    EXPECT_EQ(patched.command("exists " + roaming + "\\Ostrel"), "ok folder")
        << "the first call makes the per-user folder";
  }
  lookup.stop();

  ASSERT_EQ(tool_under_wine(dir, "patch-exe --restore hostsim.exe", &out), 0) << out;
  EXPECT_EQ(read_all(dir + "/hostsim.exe"), original);
  EXPECT_FALSE(fs::exists(dir + "/hostsim.exe.ostrel-backup"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace e2e
