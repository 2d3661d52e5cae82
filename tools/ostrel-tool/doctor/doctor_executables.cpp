// The game's executables: which import WS2_32.dll or ostrel.dll, whether each
// is patched with its backup beside it, and the mode the library will choose.
#include <string>

#include "core/host_names.h"
#include "core/process_state.h"
#include "doctor/doctor_findings.h"
#include "pe/pe_imports.h"

namespace doctor {
namespace {

// How the import patcher sees the executable: patchable, patched, not a
// network program of the game's (nullopt-like: skipped), or unreadable.
enum class kind { plain, patched, other, bad };

kind classify(const executable_read& exe, pe::import_plan& plan, std::string& error) {
  if (!exe.file.error.empty()) {
    error = "cannot be read: " + exe.file.error;
    return kind::bad;
  }
  if (pe::plan_import_patch(exe.file.bytes.data(), exe.file.bytes.size(), plan, error) == 0)
    return plan.state == pe::import_state::patchable ? kind::plain : kind::patched;
  if (error.rfind("does not import WS2_32.dll", 0) == 0) return kind::other;
  if (exe.file.size > exe.file.bytes.size()) error = "too large to be read whole";
  return kind::bad;
}

std::string mode_text(const executable_read& exe) {
  return is_server(exe) ? "dedicated server (its path holds \"w32ded\")"
                        : "game client (its path holds no \"w32ded\")";
}

}  // namespace

bool is_server(const executable_read& exe) {
  return core::mode_from_path(exe.path.c_str()) == core::mode_server;
}

bool is_game_executable(const executable_read& exe) {
  pe::import_plan plan;
  std::string error;
  const kind k = classify(exe, plan, error);
  return k == kind::plain || k == kind::patched;
}

std::vector<std::string> unpatched_executables(const folder_read& read) {
  std::vector<std::string> out;
  for (const executable_read& exe : read.executables) {
    pe::import_plan plan;
    std::string error;
    if (classify(exe, plan, error) == kind::plain) out.push_back(exe.name);
  }
  return out;
}

void executable_findings(const folder_read& read, std::vector<finding>& out) {
  if (!read.listing_error.empty())
    out.push_back({level::warning, "executable",
                   "the folder cannot be listed to its end (" + printable(read.listing_error) +
                       "): executables may be missing below",
                   "", {}});
  if (read.unspellable_executables)
    out.push_back({level::warning, "executable",
                   std::to_string(read.unspellable_executables) +
                       " executable name(s) hold characters this system's code page cannot "
                       "spell: not looked at (the narrow file calls of the game and of "
                       "ostrel.dll cannot open them either)",
                   "", {}});
  size_t game = 0;
  for (const executable_read& exe : read.executables) {
    pe::import_plan plan;
    std::string error;
    const std::string name = printable(exe.name);
    switch (classify(exe, plan, error)) {
      case kind::other:
        continue;
      case kind::bad:
        // Not every .exe in a game folder is the game's: an unreadable one is
        // worth a look, not an alarm.
        out.push_back({level::warning, "executable", name + ": " + error + "; not looked at", "", {}});
        continue;
      case kind::plain:
        ++game;
        out.push_back({level::problem, "executable",
                       name + " imports " + printable(plan.imported_as) +
                           ": the game does not load ostrel.dll; mode would be " + mode_text(exe),
                       "patch it: ostrel-tool.exe patch-exe " + name, {}});
        break;
      case kind::patched:
        ++game;
        out.push_back({exe.backup_present ? level::ok : level::warning, "executable",
                       name + " imports ostrel.dll (patched), " +
                           (exe.backup_present
                                ? "backup " + name + ".ostrel-backup beside it"
                                : "but no backup " + name + ".ostrel-backup beside it (patched "
                                  "by another tool? patch-exe --restore cannot undo it)") +
                           "; mode: " + mode_text(exe),
                       "", {}});
        break;
    }
    settings_findings(exe, out);
  }
  if (game == 0)
    out.push_back({level::problem, "executable",
                   "no executable in " + printable(read.folder) +
                       " imports WS2_32.dll or ostrel.dll",
                   "run the doctor in the game's folder, the one holding the game's .exe", {}});
}

}  // namespace doctor
