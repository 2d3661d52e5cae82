// The players' commands: patch-exe and doctor.
#include <memory>

#include "commands.h"
#include "doctor/doctor_command.h"
#include "pe/patch_exe.h"

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

  auto doctor = std::make_shared<doctor_options>();
  CLI::App* d = app.add_subcommand(
      "doctor", "is it working? check the game folder, ostrel.dll, the per-user folder, the "
                "registry, the settings and the log (exit 1 on a problem)");
  d->add_option("FOLDER", doctor->folder, "the game's folder (default: the current one)");
  d->add_flag("--json", doctor->json, "print JSON");
  d->add_option("--log", doctor->log_lines, "show this many of the log's last lines")
      ->capture_default_str();
  d->add_flag("--network", doctor->network,
              "also make one look-up exchange with the lookup service");
  d->callback([doctor, &result] { result = run_doctor(*doctor); });
}

}  // namespace tool
