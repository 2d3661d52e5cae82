// patch-exe, --check and --restore.  The executable is read whole, planned and
// checked before anything is written; the backup is written first and never
// overwritten, and the executable is replaced in one rename.
#include "pe/patch_exe.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/file_io.h"
#include "common/output.h"
#include "pe/pe_imports.h"

namespace tool {
namespace {

std::string plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string changes(const pe::import_plan& plan) {
  std::string text = plural(plan.import_names.size(), "import name", "import names");
  if (!plan.bound_names.empty())
    text += " and " + plural(plan.bound_names.size(), "bound import entry", "bound import entries");
  text += plan.checksum_set ? ", checksum recomputed" : ", no checksum to update";
  return text;
}

json_object plan_json(const patch_exe_options& o, const pe::import_plan& plan, const char* state) {
  json_object j;
  j.text("file", o.file).text("state", state);
  if (plan.state == pe::import_state::patchable) {
    j.text("imported_as", plan.imported_as)
        .number("import_names", plan.import_names.size())
        .number("bound_entries", plan.bound_names.size())
        .flag("checksum", plan.checksum_set);
  }
  j.text("backup", backup_path(o.file)).flag("backup_exists", file_exists(backup_path(o.file)));
  return j;
}

int check(const patch_exe_options& o, const pe::import_plan& plan) {
  const std::string backup = backup_path(o.file);
  const bool patched = plan.state == pe::import_state::already_patched;
  if (o.json) {
    std::printf("%s\n", plan_json(o, plan, patched ? "already_patched" : "patchable").str().c_str());
  } else if (patched) {
    std::printf("%s: already patched (imports ostrel.dll); %s\n", o.file.c_str(),
                file_exists(backup) ? ("backup: " + backup).c_str() : "no backup beside it");
  } else {
    std::printf("%s: imports %s; patch-exe would make it import ostrel.dll (%s)%s\n",
                o.file.c_str(), plan.imported_as.c_str(), changes(plan).c_str(),
                file_exists(backup) ? ("; but the backup " + backup + " exists already").c_str()
                                    : ("; backup: " + backup).c_str());
  }
  return 0;
}

int patch(const patch_exe_options& o, std::vector<uint8_t>& file, const pe::import_plan& plan) {
  const std::string backup = backup_path(o.file);
  if (plan.state == pe::import_state::already_patched)
    return refuse(o.file + ": already imports ostrel.dll; nothing to do");
  if (file_exists(backup))
    return refuse(o.file + ": the backup " + backup +
                  " exists already; restore it with --restore or move it away first");
  std::string error;
  if (!create_new_file(backup, file, error)) return refuse(error);
  pe::apply_import_patch(file.data(), file.size(), plan);
  if (!replace_file(o.file, file, error)) {
    std::remove(backup.c_str());  // the executable is untouched: no backup to keep
    return refuse(error);
  }
  if (o.json)
    std::printf("%s\n", plan_json(o, plan, "patched").str().c_str());
  else
    std::printf("%s: now imports ostrel.dll in place of %s (%s); backup: %s\n", o.file.c_str(),
                plan.imported_as.c_str(), changes(plan).c_str(), backup.c_str());
  return 0;
}

int restore(const patch_exe_options& o, const std::vector<uint8_t>& current) {
  const std::string backup = backup_path(o.file);
  std::vector<uint8_t> original;
  std::string error;
  if (!file_exists(backup)) return refuse(o.file + ": no backup " + backup + " to restore");
  if (!read_input(backup, original, error)) return refuse(error);
  // Only the file patch-exe made from this backup is replaced by it: a game
  // updated since then keeps its update.
  std::vector<uint8_t> expected = original;
  pe::import_plan plan;
  if (pe::plan_import_patch(expected.data(), expected.size(), plan, error) == 0)
    pe::apply_import_patch(expected.data(), expected.size(), plan);
  if (current != expected && current != original)
    return refuse(o.file + ": differs from what patch-exe made of " + backup +
                  " (updated since?); nothing restored");
  if (!rename_over(backup, o.file))
    return refuse(o.file + ": cannot put " + backup + " back in its place (" + std::strerror(errno) +
                  "; is the game running?)");
  if (o.json)
    std::printf("%s\n", json_object().text("file", o.file).text("state", "restored")
                            .text("backup", backup).str().c_str());
  else
    std::printf("%s: restored from %s\n", o.file.c_str(), backup.c_str());
  return 0;
}

}  // namespace

std::string backup_path(const std::string& executable) { return executable + backup_suffix; }

int run_patch_exe(const patch_exe_options& o) {
  if (o.check && o.restore) return refuse("patch-exe: --check and --restore exclude each other");
  if (o.file == "-") return refuse("patch-exe: needs the executable's file name, not \"-\"");
  std::vector<uint8_t> file;
  std::string error;
  if (!read_input(o.file, file, error)) return refuse(error);
  if (o.restore) return restore(o, file);
  pe::import_plan plan;
  if (pe::plan_import_patch(file.data(), file.size(), plan, error) != 0)
    return refuse(o.file + ": " + error + "; file left as it was");
  return o.check ? check(o, plan) : patch(o, file, plan);
}

}  // namespace tool
