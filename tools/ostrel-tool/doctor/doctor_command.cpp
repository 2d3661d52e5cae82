// The doctor's command line and the double-click run around it.
#include "doctor/doctor_command.h"

#include <cstdio>
#include <cstring>

#include "doctor/doctor_findings.h"
#include "doctor/doctor_gather.h"
#include "doctor/doctor_network.h"
#include "doctor/doctor_report.h"
#include "ostrel_version.h"
#include "pe/patch_exe.h"
#include "platform/platform.h"

namespace tool {
namespace {

std::vector<doctor::finding> findings_of(const doctor_options& o) {
  const int64_t now = platform::now_seconds();
  const doctor::folder_read read = doctor::gather_folder(o.folder, now);
  std::vector<doctor::finding> findings = doctor::diagnose(read, now, o.log_lines);
  if (o.network) findings.push_back(doctor::network_finding(read));
  return findings;
}

std::string in_folder(const std::string& folder, const std::string& name) {
#ifdef _WIN32
  constexpr char separator = '\\';
#else
  constexpr char separator = '/';
#endif
  if (folder.empty() || folder == ".") return name;
  const char last = folder.back();
  return last == '/' || last == '\\' ? folder + name : folder + separator + name;
}

// One answer line; false at the end of the input.
bool answer(FILE* in, std::string& line) {
  char buffer[256];
  if (!std::fgets(buffer, sizeof buffer, in)) return false;
  line = buffer;
  return true;
}

}  // namespace

int run_doctor(const doctor_options& o) {
  const std::vector<doctor::finding> findings = findings_of(o);
  if (o.json)
    std::printf("%s\n", doctor::report_json(o.folder, findings).c_str());
  else
    std::fputs(doctor::report_text(findings).c_str(), stdout);
  return doctor::exit_status(findings);
}

std::string own_folder() {
  char path[260];
  if (platform::executable_path(path, sizeof path) != 0) return ".";
  path[sizeof path - 1] = '\0';
  const char* slash = std::strrchr(path, '\\');
  const char* other = std::strrchr(path, '/');
  if (!slash || (other && other > slash)) slash = other;
  return slash ? std::string(path, static_cast<size_t>(slash - path)) : ".";
}

int double_click(const std::string& folder, FILE* in) {
  doctor_options o;
  o.folder = folder;
  std::printf("ostrel-tool %s checks the game folder %s\n\n", OSTREL_VERSION_TEXT, folder.c_str());
  const int64_t now = platform::now_seconds();
  doctor::folder_read read = doctor::gather_folder(folder, now);
  std::vector<doctor::finding> findings = doctor::diagnose(read, now, o.log_lines);
  std::fputs(doctor::report_text(findings).c_str(), stdout);
  int status = doctor::exit_status(findings);

  const std::vector<std::string> unpatched = doctor::unpatched_executables(read);
  std::string line;
  if (unpatched.size() == 1) {
    std::printf("\n%s still imports WS2_32.dll. Patch it now so that the game loads ostrel.dll? "
                "(y/n) ", doctor::printable(unpatched[0]).c_str());
    std::fflush(stdout);
    if (answer(in, line) && (line[0] == 'y' || line[0] == 'Y')) {
      patch_exe_options patch;
      patch.file = in_folder(folder, unpatched[0]);
      if (run_patch_exe(patch) == 0) {
        read = doctor::gather_folder(folder, now);
        status = doctor::exit_status(doctor::diagnose(read, now, o.log_lines));
        std::printf("Done. Start the game as usual.%s\n",
                    status ? " Some problems above remain." : "");
      }
    } else {
      std::printf("Nothing changed.\n");
    }
  } else if (unpatched.size() > 1) {
    std::printf("\nSeveral executables still import WS2_32.dll; patch the game's own from a "
                "command prompt: ostrel-tool.exe patch-exe GAME.exe\n");
  }
  std::printf("\nPress Enter to close this window.");
  std::fflush(stdout);
  answer(in, line);
  return status;
}

}  // namespace tool
