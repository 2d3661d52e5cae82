// patch-exe: the one step a player takes besides copying ostrel.dll: the game
// executable imports ostrel.dll where it imported WS2_32.dll, with the
// original kept beside it as GAME.exe.ostrel-backup.
#pragma once
#include <string>

namespace tool {

struct patch_exe_options {
  std::string file;
  bool check = false;    // say what would be done, change nothing
  bool restore = false;  // put the backup back
  bool json = false;
};

inline constexpr char backup_suffix[] = ".ostrel-backup";
std::string backup_path(const std::string& executable);

// The command's exit code: 0 done (or, with check, patchable or already
// patched), 1 refused with one line on standard error.
int run_patch_exe(const patch_exe_options& options);

}  // namespace tool
