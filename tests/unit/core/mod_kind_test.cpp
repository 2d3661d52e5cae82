// Modification detection from the host's command line.
#include <gtest/gtest.h>

#include "core/mod_kind.h"
#include "platform/native/test_controls.h"

namespace {

TEST(ModKind, FromCommandLine) {
  const struct {
    const char* line;
    int kind;
  } cases[] = {
      {"game.exe", 1},
      {"game.exe +modPath mods/bf2", 1},
      {"game.exe +modPath mods/BF2", 1},        // whole-rest match ignores case
      {"game.exe +modPath mods/XPack", 1},
      {"game.exe +modPath mods/bf2 +x 1", 1},
      {"game.exe +modPath mods/xpack +x", 1},
      {"game.exe +modPath mods/BF2 +other", 2},  // the prefix test respects case
      {"game.exe +modPath mods/bf2x", 2},
      {"game.exe +modPath mods/other", 2},
      {"game.exe +modPath mods/", 2},
      {"game.exe +modpath mods/other", 1},       // marker is case-sensitive
      {"+modPath mods/other +modPath mods/bf2", 2},  // the first marker decides
  };
  for (const auto& c : cases) EXPECT_EQ(core::detect_mod_kind(c.line), c.kind) << c.line;
}

TEST(ModKind, ReadsTheProcessCommandLineAtEachCall) {
  platform::test::set_command_line("game.exe +modPath mods/other");
  EXPECT_EQ(core::detect_mod_kind(), 2);
  platform::test::set_command_line("game.exe +modPath mods/xpack");
  EXPECT_EQ(core::detect_mod_kind(), 1);
  platform::test::set_command_line("game.exe");
}

}  // namespace
