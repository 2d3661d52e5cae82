// The findings as text (one line each, a problem's hint on its line, details
// indented below) and as JSON; the exit status they make.
#pragma once
#include <string>
#include <vector>

#include "doctor/doctor_findings.h"

namespace doctor {

std::string report_text(const std::vector<finding>& findings);
std::string report_json(const std::string& folder, const std::vector<finding>& findings);
// 1 when any finding is a problem, else 0.
int exit_status(const std::vector<finding>& findings);

}  // namespace doctor
