// The per-user folder under Wine: a game client's start-up (loading its
// look-up cache files) creates "Ostrel" in the roaming application-data folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "wine_host.h"

namespace e2e {
namespace {

// "C:\users\...\Roaming" as the prefix holds it on this side.
std::string unix_path(const std::string& windows_path) {
  std::string p = windows_path;
  if (p.size() < 3 || (p[0] != 'C' && p[0] != 'c') || p[1] != ':') return "";
  p = wine_prefix() + "/drive_c" + p.substr(2);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

TEST(UserFolder, ClientStartCreatesTheOstrelFolder) {
  std::string roaming;
  {
    hostsim plain;  // without ostrel.dll: nothing of ours runs
    ASSERT_TRUE(plain.start(plain_dir()));
    std::string answer = plain.command("appdata");
    ASSERT_EQ(answer.rfind("ok ", 0), 0u) << answer;
    roaming = answer.substr(3);
  }
  const std::string folder = unix_path(roaming + "\\Ostrel");
  ASSERT_FALSE(folder.empty()) << roaming;
  std::filesystem::remove_all(folder);

  hostsim client;
  ASSERT_TRUE(client.start(client_dir()));
  EXPECT_EQ(client.command("exists " + roaming + "\\Ostrel"), "ok folder");
  EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;
}

}  // namespace
}  // namespace e2e
