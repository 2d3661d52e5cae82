// The per-user folder under Wine: a game client's first call into the library
// (loading its look-up cache files) creates "Ostrel" in the roaming
// application-data folder; loading the library alone does not, as the
// shell's folder calls may not run under the loader lock.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "wine_host.h"

namespace e2e {
namespace {

TEST(UserFolder, FirstCallNotTheLoadCreatesTheOstrelFolder) {
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
  EXPECT_EQ(client.command("exists " + roaming + "\\Ostrel"), "ok none")
      << "loading the library made the folder";
  EXPECT_FALSE(std::filesystem::exists(folder)) << folder;
  client.command("resolve localhost");  // the first call into the library
  EXPECT_EQ(client.command("exists " + roaming + "\\Ostrel"), "ok folder");
  EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;
}

}  // namespace
}  // namespace e2e
