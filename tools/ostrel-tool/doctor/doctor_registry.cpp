// The registry values the library reads under the product key, judged by the
// library's own rules (core/registry_readers.h), and what each does.
#include <cstring>
#include <string>

#include "base/bytes.h"
#include "base/text.h"
#include "common/output.h"
#include "core/launcher.h"
#include "core/registry_readers.h"
#include "doctor/doctor_findings.h"
#include "platform/platform.h"
#include "redirect/host_rewrite.h"

namespace doctor {
namespace {

constexpr char product_key[] = "Software\\Ostrel Systems\\Ostrel Client";

std::string type_name(uint32_t type) {
  switch (type) {
    case platform::reg_sz: return "REG_SZ";
    case platform::reg_expand_sz: return "REG_EXPAND_SZ";
    case platform::reg_binary: return "REG_BINARY";
    case platform::reg_dword: return "REG_DWORD";
    case platform::reg_multi_sz: return "REG_MULTI_SZ";
    default: return "type " + std::to_string(type);
  }
}

// The number the library reads, or why it reads none.
bool number(const registry_read& v, uint32_t* out, std::string& why) {
  const uint32_t held = static_cast<uint32_t>(v.data.size());
  if (core::registry_number(v.type, v.data.data(), held, out) != 0) {
    why = "is " + type_name(v.type) + " of " + std::to_string(v.size) +
          " bytes; the library reads only a REG_DWORD (4 bytes), so it counts as not set";
    return false;
  }
  return true;
}

bool text_value(const registry_read& v, std::string* out, std::string& why) {
  if (!core::registry_text_accepted(v.type, v.size) || v.data.size() != v.size) {
    why = "is " + type_name(v.type) + " of " + std::to_string(v.size) +
          " bytes; the library reads only text of at most " +
          std::to_string(core::registry_text_capacity) + " bytes, so it counts as not set";
    return false;
  }
  const std::string raw(v.data.begin(), v.data.end());
  *out = raw.substr(0, raw.find('\0'));
  return true;
}

void browser_mode(const registry_values& r, std::vector<finding>& out) {
  const std::string name = "serverBrowserMode";
  std::string why;
  uint32_t mode = 0;
  std::string where;
  for (const auto& [value, root] : {std::pair{&r.browser_mode_user, "HKCU"},
                                    std::pair{&r.browser_mode_machine, "HKLM"}}) {
    if (!value->present) continue;
    if (number(*value, &mode, why)) {
      where = root;
      break;
    }
    out.push_back({level::warning, "registry", std::string(root) + " " + name + " " + why, "", {}});
  }
  if (where.empty()) {
    out.push_back({level::ok, "registry",
                   name + ": not set (0): the server list and ranked filtering as the game has them",
                   "", {}});
    return;
  }
  out.push_back({level::ok, "registry",
                 name + " = " + std::to_string(mode) + " (" + where + "): " +
                     (mode == 1 ? "the server list moves to the replacement master server and "
                                  "only ranked servers count as ranked"
                                : "the server list as the game has it (only 1 moves it)"),
                 "", {}});
}

void ranking(const registry_read& v, const char* name, const char* used_by,
             std::vector<finding>& out) {
  const std::string n = name;
  if (!v.present) {
    out.push_back({level::ok, "registry", n + ": not set: " + used_by + " use the official ranking host",
                   "", {}});
    return;
  }
  std::string why, value;
  if (!text_value(v, &value, why)) {
    out.push_back({level::warning, "registry", n + " " + why, "", {}});
    return;
  }
  // Cut as the library cuts it: the leading letters and digits, one
  // separator, the rest.
  std::vector<char> copy(value.begin(), value.end());
  copy.push_back('\0');
  char* word = nullptr;
  char* rest = nullptr;
  text::split_leading_word(copy.data(), &word, &rest);
  const std::string w = word;
  std::string effect = "the official ranking host";
  if (w == "custom") {
    const std::string r = rest;
    const std::string host = r.rfind("1;", 0) == 0 ? r.substr(2, r.find(';', 2) - 2) : "";
    effect = !host.empty() && host.size() < redirect::host_name_size
                 ? "the custom ranking host \"" + printable(host) + "\""
                 : "the official ranking host (a custom host is \"custom;1;HOST\", HOST of 1 "
                   "to 63 characters)";
  } else if (w == "fmrcoop" || w == "fmrcq") {
    effect = "the " + w + " ranking host";
  }
  out.push_back({level::ok, "registry",
                 n + " = \"" + printable(value) + "\": " + used_by + " use " + effect, "", {}});
}

void launcher(const registry_values& r, std::vector<finding>& out) {
  uint32_t mode = 2;
  std::string why;
  if (r.opmode.present && !number(r.opmode, &mode, why)) {
    out.push_back({level::warning, "registry", "client_opmode " + why + ": redirection stays on",
                   "", {}});
    mode = 2;
  } else if (!r.opmode.present) {
    out.push_back({level::ok, "registry", "client_opmode: not set: redirection on", "", {}});
  } else if (mode == 0) {
    out.push_back({level::warning, "registry",
                   "client_opmode = 0: redirection is OFF, the game talks to the retired service "
                   "as without ostrel.dll",
                   "", {}});
  } else if (mode >= 2) {
    out.push_back({level::ok, "registry",
                   "client_opmode = " + std::to_string(mode) + ": redirection on", "", {}});
  }
  if (mode != 1) {
    if (r.opvdata.present)
      out.push_back({level::ok, "registry",
                     "client_opvdata: present, but only read while client_opmode is 1", "", {}});
    return;
  }
  // Mode 1: the launcher's record decides, each time the game resolves a name.
  const registry_read& v = r.opvdata;
  std::string state;
  if (!v.present) {
    state = "client_opvdata is not set: redirection is off";
  } else if (v.type != platform::reg_binary || v.data.size() < core::launcher_record_size) {
    state = "client_opvdata is " + type_name(v.type) + " of " + std::to_string(v.size) +
            " bytes, not a 32-byte REG_BINARY record: redirection is off";
  } else if (std::memcmp(v.data.data() + core::lr_magic, "HPV1", 4) != 0) {
    state = "client_opvdata does not start with \"HPV1\": redirection is off";
  } else {
    const uint32_t pid = bytes::load_u32le(v.data.data() + core::lr_pid);
    if (r.opvdata_image.empty()) {
      state = "client_opvdata names launcher process " + std::to_string(pid) +
              ", which is not running now: redirection is off until the launcher starts the game";
    } else {
      uint8_t tag[core::lr_tag_size];
      core::launcher_tag(v.data.data(), r.opvdata_image.c_str(), tag);
      state = "client_opvdata names launcher process " + std::to_string(pid) + " (" +
              printable(r.opvdata_image) + "), " +
              (std::memcmp(tag, v.data.data() + core::lr_tag, core::lr_tag_size) == 0
                   ? "and its tag matches: redirection on"
                   : "but its tag does not match that program: redirection is off");
    }
  }
  out.push_back({level::ok, "registry", "client_opmode = 1: a launcher decides; " + state, "", {}});
}

}  // namespace

void registry_findings(const registry_values& r, std::vector<finding>& out) {
  if (!r.user_key && !r.machine_key)
    out.push_back({level::ok, "registry",
                   std::string("no key ") + product_key + " (HKCU or HKLM): every value at its default",
                   "", {}});
  browser_mode(r, out);
  ranking(r.ranking_retail, "rkgRetail", "the base game and its expansion", out);
  ranking(r.ranking_mods, "rkgMods", "other modifications", out);
  launcher(r, out);
}

}  // namespace doctor
