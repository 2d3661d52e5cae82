// The per-user folder under Wine: a game client's start-up (loading its
// look-up cache files) creates "Ostrel" in the roaming application-data folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "wine_host.h"

namespace e2e {
namespace {

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
