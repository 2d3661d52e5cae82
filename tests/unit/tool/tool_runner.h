// Runs the native ostrel-tool as an operator or player runs it, in a scratch
// folder, and checks the shape of a refusal: exit code 1 and exactly one
// "ostrel-tool: " line on standard error.
#pragma once
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "scratch_dir.h"

struct tool_result {
  int status = -1;
  std::string out;
  std::string err;
};

// A shell command's standard output, and its exit status in *status.
inline std::string run_command(const std::string& command, int* status = nullptr) {
  std::string out;
  if (status) *status = -1;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  const int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

inline tool_result run_tool(const scratch_dir& dir, const std::string& arguments) {
  const std::string err_file = dir.path() + "/stderr.txt";
  tool_result r;
  r.out = run_command(
      "cd '" + dir.path() + "' && '" OSTREL_TOOL "' " + arguments + " 2>'" + err_file + "'",
      &r.status);
  std::ifstream err(err_file, std::ios::binary);
  r.err.assign(std::istreambuf_iterator<char>(err), {});
  return r;
}

inline void expect_refusal(const tool_result& r, const std::string& text, int status = 1) {
  EXPECT_EQ(r.status, status) << r.err;
  EXPECT_EQ(r.err.rfind("ostrel-tool: ", 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
}
