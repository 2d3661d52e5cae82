// ostrel.dll beside the executables: a 32-bit DLL exporting the Winsock
// functions the game imports, and the same version as this tool.
#include <algorithm>
#include <cstdio>
#include <string>

#include "doctor/doctor_findings.h"
#include "ostrel_exports.h"
#include "ostrel_version.h"
#include "pe/pe_library.h"

namespace doctor {
namespace {

constexpr uint16_t tool_version[4] = {OSTREL_VERSION_COMMAS};

std::string version_text(const uint16_t v[4]) {
  char text[32];
  if (v[3])
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", v[0], v[1], v[2], v[3]);
  else
    std::snprintf(text, sizeof text, "%u.%u.%u", v[0], v[1], v[2]);
  return text;
}

}  // namespace

void library_findings(const folder_read& read, std::vector<finding>& out) {
  const char* topic = "ostrel.dll";
  const std::string from_archive = "copy ostrel.dll from the release archive beside the game's .exe";
  if (!read.dll.present) {
    out.push_back({level::problem, topic, "not in " + printable(read.folder) +
                   ": a patched game cannot start without it", from_archive, {}});
    return;
  }
  if (!read.dll.error.empty()) {
    out.push_back({level::problem, topic, "cannot be read (" + read.dll.error + ")", from_archive, {}});
    return;
  }
  pe::library_view view;
  std::string error;
  if (pe::read_library(read.dll.bytes.data(), read.dll.bytes.size(), view, error) != 0 ||
      !view.dll) {
    if (error.empty()) error = "an executable, not a DLL";
    out.push_back({level::problem, topic, "not a 32-bit Windows DLL: " + error, from_archive, {}});
    return;
  }
  std::vector<std::string> missing;
  for (const char* name : ostrel_exported_names)
    if (std::find(view.exports.begin(), view.exports.end(), name) == view.exports.end())
      missing.push_back(name);
  const size_t expected = std::size(ostrel_exported_names);
  if (!missing.empty()) {
    std::string list;
    for (size_t i = 0; i < missing.size() && i < 5; ++i) list += (i ? ", " : "") + missing[i];
    if (missing.size() > 5) list += ", ...";
    out.push_back({level::problem, topic,
                   "exports " + std::to_string(expected - missing.size()) + " of the " +
                       std::to_string(expected) + " Winsock functions; missing " + printable(list) +
                       " (not ostrel.dll, or damaged)",
                   from_archive, {}});
    return;
  }
  const std::string tool = version_text(tool_version);
  if (!view.has_version) {
    out.push_back({level::warning, topic,
                   "a 32-bit DLL exporting the " + std::to_string(expected) +
                       " functions, but " + view.version_error + " (this tool is " + tool + ")",
                   "", {}});
    return;
  }
  const std::string dll = version_text(view.version);
  if (!std::equal(view.version, view.version + 4, tool_version)) {
    out.push_back({level::warning, topic,
                   "version " + dll + ", this tool " + tool +
                       ": take both from one release archive",
                   "", {}});
    return;
  }
  out.push_back({level::ok, topic,
                 "a 32-bit DLL exporting the " + std::to_string(expected) + " functions, version " +
                     dll + " (the tool's own)",
                 "", {}});
}

}  // namespace doctor
