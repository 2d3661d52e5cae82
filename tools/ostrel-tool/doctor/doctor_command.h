// ostrel-tool doctor [FOLDER], and the run a double-click starts.
#pragma once
#include <cstdio>
#include <string>

namespace tool {

struct doctor_options {
  std::string folder = ".";
  bool json = false;
  size_t log_lines = 20;
  bool network = false;
};

// Prints the findings; 1 when one of them is a problem, else 0.
int run_doctor(const doctor_options& options);

// The double-click: the doctor on folder, an offer to patch the one game
// executable still importing WS2_32.dll (answered on in), then a wait for
// Enter so that the window stays open.  The doctor's exit status.
int double_click(const std::string& folder, FILE* in);

// The folder this program lies in ("." when the platform cannot tell).
std::string own_folder();

}  // namespace tool
