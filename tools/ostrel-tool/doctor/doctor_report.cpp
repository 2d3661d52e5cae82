// Text and JSON of the findings.
#include "doctor/doctor_report.h"

#include "common/output.h"

namespace doctor {
namespace {

const char* mark_name(level mark) {
  switch (mark) {
    case level::ok: return "ok";
    case level::warning: return "warning";
    case level::problem: return "problem";
  }
  return "?";
}

size_t counted(const std::vector<finding>& findings, level mark) {
  size_t n = 0;
  for (const finding& f : findings) n += f.mark == mark;
  return n;
}

}  // namespace

std::string report_text(const std::vector<finding>& findings) {
  std::string out;
  for (const finding& f : findings) {
    std::string mark = mark_name(f.mark);
    mark.resize(8, ' ');
    out += mark + f.topic + ": " + f.text;
    if (!f.hint.empty()) out += " -- hint: " + f.hint;
    out += "\n";
    for (const std::string& line : f.details) out += "          | " + line + "\n";
  }
  const size_t problems = counted(findings, level::problem);
  const size_t warnings = counted(findings, level::warning);
  out += std::to_string(problems) + " problem(s), " + std::to_string(warnings) + " warning(s)" +
         (problems ? "" : ": nothing stops ostrel.dll from working") + "\n";
  return out;
}

std::string report_json(const std::string& folder, const std::vector<finding>& findings) {
  std::vector<std::string> items;
  for (const finding& f : findings) {
    tool::json_object o;
    o.text("level", mark_name(f.mark)).text("topic", f.topic).text("text", f.text);
    if (!f.hint.empty()) o.text("hint", f.hint);
    if (!f.details.empty()) {
      std::vector<std::string> lines;
      for (const std::string& line : f.details) lines.push_back(tool::json_string(line));
      o.raw("details", tool::json_array(lines));
    }
    items.push_back(o.str());
  }
  return tool::json_object()
      .text("folder", folder)
      .number("problems", counted(findings, level::problem))
      .number("warnings", counted(findings, level::warning))
      .raw("findings", tool::json_array(items))
      .str();
}

int exit_status(const std::vector<finding>& findings) {
  return counted(findings, level::problem) ? 1 : 0;
}

}  // namespace doctor
