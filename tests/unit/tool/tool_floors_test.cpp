// The floors check holds the tool's wings: a copy of the tool's folder with
// includes planted where they do not belong fails it, naming each line; one
// with includes that keep to their floors passes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

// The check's output and exit status over the tool's folder at tool (and no
// library sources: their floors have a test of their own).
int check(const std::string& scratch, const std::string& tool, std::string* out) {
  fs::create_directories(scratch + "/src");
  const std::string command = "bash '" OSTREL_SOURCE_DIR "/scripts/check_layers.sh' '" + scratch +
                              "/src' '" + tool + "' 2>&1";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  char buffer[512];
  out->clear();
  while (std::fgets(buffer, sizeof buffer, p)) *out += buffer;
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct plant {
  const char* file;
  const char* line;
  const char* said;  // "" when the include keeps to its floor
};

// The tool's folder copied to scratch/tool with every plant's line added.
std::string planted(const std::string& scratch, const std::vector<plant>& plants) {
  const std::string tool = scratch + "/tool";
  fs::remove_all(tool);
  fs::copy(OSTREL_SOURCE_DIR "/tools/ostrel-tool", tool, fs::copy_options::recursive);
  for (const plant& p : plants) std::ofstream(tool + "/" + p.file, std::ios::app) << p.line << "\n";
  return tool;
}

// Each wrong include is named on a line of its own: one copy holds them all.
TEST(ToolFloors, PlantedIncludesFailTheCheck) {
  const std::vector<plant> wrong = {
      {"common/output.h", "#include \"service/lookup_messages.h\"", "tool's 'common' wing"},
      {"pe/pe_image.h", "#include \"service/deploy_file.h\"", "tool's 'pe' wing"},
      {"doctor/doctor_log.cpp", "#include \"service/stats_messages.h\"", "tool's 'doctor' wing"},
      {"pe/pe_library.cpp", "#include \"doctor/doctor_findings.h\"", "tool's 'pe' wing"},
      {"common/file_io.cpp", "#include \"pe/pe_image.h\"", "tool's 'common' wing"},
      {"doctor/doctor_server.cpp", "#include \"operator/lookup_view.h\"", "tool's 'doctor' wing"},
      {"operator/server_list.cpp", "#include \"doctor/doctor_findings.h\"", "tool's 'operator' wing"},
      {"doctor/doctor_report.cpp", "#include <windows.h>", "names a Windows header"},
  };
  const std::vector<plant> right = {
      {"operator/stats_commands.cpp", "#include \"service/stats_messages.h\"", ""},
      {"doctor/doctor_log.cpp", "#include \"pe/pe_image.h\"", ""},
      {"main.cpp", "#include \"operator/lookup_view.h\"", ""},
      {"common/path_text_win32.cpp", "#include <windows.h>", ""},
  };
  scratch_dir scratch;
  std::string out;
  EXPECT_EQ(check(scratch.path(), planted(scratch.path(), right), &out), 0) << out;

  EXPECT_EQ(check(scratch.path(), planted(scratch.path(), wrong), &out), 1) << out;
  for (const plant& p : wrong) {
    const std::string file = std::string("tool/") + p.file + ":";
    size_t at = 0;
    bool named = false;
    while (!named && (at = out.find(file, at)) != std::string::npos) {
      const size_t end = out.find('\n', at);
      named = out.substr(at, end - at).find(p.said) != std::string::npos;
      at = end;
    }
    EXPECT_TRUE(named) << p.file << ": " << p.line << "\n" << out;
  }
}

}  // namespace
