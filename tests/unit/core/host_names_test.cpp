// Operating mode and the executable and settings file names derived from the
// host executable's path.
#include <gtest/gtest.h>

#include <string>

#include "core/host_names.h"

namespace {

TEST(HostNames, ModeFromPath) {
  const struct {
    const char* path;
    int mode;
  } cases[] = {
      {"C:\\Games\\Game\\game.exe", 1},
      {"C:\\Games\\Game\\game_w32ded.exe", 2},
      {"C:\\Games\\w32ded\\game.exe", 2},     // the folder counts, not only the file
      {"C:\\Games\\W32DED\\game.exe", 1},     // the test respects case
      {"w32ded", 2},
      {"", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(core::mode_from_path(c.path), c.mode) << c.path;
}

TEST(HostNames, DeriveHostNames) {
  const std::string long_name(25, 'n');    // over 19 characters
  const std::string longer_name(40, 'm');  // pushes the settings name over 39
  const struct {
    std::string path;
    std::string executable;
    std::string settings;
  } cases[] = {
      {"C:\\Games\\Game\\game.exe", "game.exe", "ostrel_game.exe.cfg"},
      {"/opt/game/server.exe", "server.exe", "ostrel_server.exe.cfg"},
      {"C:\\Games/Game\\bin/a.exe", "a.exe", "ostrel_a.exe.cfg"},  // the last of either
      {"C:/Games/Game\\b.exe", "b.exe", "ostrel_b.exe.cfg"},
      {"game.exe", "<kept>", "<kept>"},  // no separator: both left as they were
      {"", "<kept>", "<kept>"},
      {"C:\\Games\\", "", "ostrel_.cfg"},
      {"C:\\" + long_name, long_name.substr(0, 19), "ostrel_" + long_name + ".cfg"},
      {"C:\\" + longer_name, longer_name.substr(0, 19),
       ("ostrel_" + longer_name).substr(0, 39)},
  };
  for (const auto& c : cases) {
    char executable[20] = "<kept>";
    char settings[40] = "<kept>";
    core::derive_host_names(c.path.c_str(), executable, sizeof executable, settings,
                            sizeof settings);
    EXPECT_EQ(executable, c.executable) << c.path;
    EXPECT_EQ(settings, c.settings) << c.path;
  }
}

}  // namespace
