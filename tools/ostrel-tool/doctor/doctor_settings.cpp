// An executable's settings file, read line by line as the library reads it
// (pieces of at most 999 bytes, the library's own line parser), each pair
// handed to the library's own redirection table to say what it does.
#include <cstring>
#include <string>
#include <vector>

#include "common/output.h"
#include "core/settings_file.h"
#include "doctor/doctor_findings.h"
#include "redirect/redirection_table.h"

namespace doctor {
namespace {

constexpr uint8_t end_of_text = 0x1A;  // Windows' text mode ends the file at Ctrl-Z

std::string forward_text(const redirect::forward_address& a) {
  const unsigned port = (a.port & 0xFF) << 8 | a.port >> 8;
  return tool::ipv4_text(a.address) + ":" + std::to_string(port);
}

// What the pair does, through the library's own handler; false when the
// library ignores it (reason in text).
bool meaning(const char* key, char* value, std::string& text) {
  redirect::redirection_reset();
  const std::string given = value;
  redirect::redirection_entry(key, value);
  const bool master = std::strcmp(key, "gsqr_mstr") == 0;
  if (std::strcmp(key, "bf2web") == 0) {
    char name[redirect::stats_name_size];
    redirect::stats_lookup_name(name);
    if (redirect::stats_resolver_flag()) {
      text = "statistics host names are resolved by the system";
    } else if (name[0]) {
      text = "statistics host looked up as \"" + printable(name) + "\"";
    } else {
      text = given.rfind("lookup:", 0) == 0
                 ? "ignored: the name after \"lookup:\" is empty or longer than 63 characters"
                 : "ignored: the value is neither \"hosts\" nor \"lookup:NAME\"";
      redirect::redirection_reset();
      return false;
    }
  } else if (master || std::strcmp(key, "gsqr_key") == 0) {
    const redirect::forward_address a = master ? redirect::master_forward() : redirect::key_forward();
    if (a.port == 0) {
      text = "ignored: the value is not ADDRESS:PORT with a port other than 0";
      redirect::redirection_reset();
      return false;
    }
    if (a.address == 0xFFFFFFFFu) {
      text = "ignored in effect: the address is not an IPv4 address the system understands";
      redirect::redirection_reset();
      return false;
    }
    text = std::string(master ? "master server" : "CD-key server") + " traffic goes to " +
           forward_text(a);
  } else {
    text = "ignored: unknown key (the library reads bf2web, gsqr_mstr and gsqr_key)";
    return false;
  }
  redirect::redirection_reset();
  return true;
}

}  // namespace

void settings_findings(const executable_read& exe, std::vector<finding>& out) {
  const std::string name = printable(exe.settings_name);
  if (!exe.settings.present) {
    out.push_back({level::ok, "settings", name + ": none (no redirection overrides; optional)", "", {}});
    return;
  }
  if (!exe.settings.error.empty()) {
    out.push_back({level::warning, "settings", name + ": cannot be read (" + exe.settings.error + ")",
                   "", {}});
    return;
  }
  std::vector<std::string> details;
  size_t ignored = 0, pairs = 0, number = 0;
  const std::vector<uint8_t>& bytes = exe.settings.bytes;
  size_t at = 0;
  bool continued = false;
  while (at < bytes.size() && bytes[at] != end_of_text) {
    // One piece as fgets reads it: up to a line end, at most 999 bytes.
    char line[core::settings_line_size];
    size_t n = 0;
    while (n < sizeof line - 1 && at < bytes.size() && bytes[at] != end_of_text) {
      line[n++] = static_cast<char>(bytes[at]);
      if (bytes[at++] == '\n') break;
    }
    line[n] = '\0';
    const bool whole = n > 0 && line[n - 1] == '\n';
    if (!continued) ++number;
    const std::string where = "line " + std::to_string(number) + (continued ? " (continued)" : "");
    continued = !whole && n == sizeof line - 1;
    char* key = nullptr;
    char* value = nullptr;
    if (core::settings_parse_line(line, &key, &value) != 0) continue;
    std::string text;
    const std::string pair = printable(key) + " = " + printable(value);
    if (meaning(key, value, text)) {
      ++pairs;
      details.push_back(where + ": " + pair + ": " + text);
    } else {
      ++ignored;
      details.push_back(where + ": " + pair + ": " + text);
    }
    if (continued)
      details.push_back(where + " is longer than 999 bytes: the library reads its rest as a "
                                "line of its own");
  }
  std::string text = name + ": " + std::to_string(pairs) + " setting(s) in effect";
  if (ignored) text += ", " + std::to_string(ignored) + " line(s) ignored";
  if (exe.settings.size > bytes.size()) text += " (only its first 1 MiB read)";
  out.push_back({ignored ? level::warning : level::ok, "settings", text, "", details});
}

}  // namespace doctor
