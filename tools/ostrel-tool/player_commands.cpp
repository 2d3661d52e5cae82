// The players' command: patch-exe.
#include <memory>

#include "commands.h"
#include "patch_exe.h"

namespace tool {

void add_player_commands(CLI::App& app, int& result) {
  auto options = std::make_shared<patch_exe_options>();
  CLI::App* cmd = app.add_subcommand(
      "patch-exe",
      "make GAME.exe import ostrel.dll in place of WS2_32.dll (backup: GAME.exe.ostrel-backup)");
  cmd->add_option("GAME.exe", options->file, "the game's executable")->required();
  auto check = cmd->add_flag("--check", options->check, "say what would be done; change nothing");
  cmd->add_flag("--restore", options->restore, "put the backup back, byte for byte")
      ->excludes(check);
  cmd->add_flag("--json", options->json, "print JSON");
  cmd->callback([options, &result] { result = run_patch_exe(*options); });
}

}  // namespace tool
