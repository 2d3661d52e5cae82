// Arbitrary contents for every file and registry value the doctor judges,
// held together by diagnose(): whatever they hold, the findings come out
// (each problem with a hint), their text and JSON build, and the DLL reader
// never reads outside the file.  Input: a flags byte, then parts, each a
// 16-bit little-endian length and its bytes: executable, ostrel.dll,
// settings, log, cache files 0 and 1, ranked list, provider ID, then for each
// of the six registry values a type byte and its data.
#include <cstdint>
#include <string>
#include <vector>

#include "doctor/doctor_findings.h"
#include "doctor/doctor_report.h"
#include "lookup_signing.h"
#include "pe/pe_library.h"

namespace {

struct reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  std::vector<uint8_t> part() {
    if (at + 2 > size) return {};
    size_t n = data[at] | static_cast<size_t>(data[at + 1]) << 8;
    at += 2;
    if (n > size - at) n = size - at;
    std::vector<uint8_t> out(data + at, data + at + n);
    at += n;
    return out;
  }
  uint8_t byte() { return at < size ? data[at++] : 0; }
};

doctor::file_read file_of(std::vector<uint8_t> bytes, bool present) {
  doctor::file_read f;
  f.present = present;
  f.size = bytes.size();
  f.modified = 1700000000;
  f.bytes = std::move(bytes);
  return f;
}

doctor::registry_read value_of(reader& r) {
  doctor::registry_read v;
  const uint8_t type = r.byte();
  v.present = type != 0xFF;
  v.type = type;
  v.data = r.part();
  v.size = static_cast<uint32_t>(v.data.size());
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using fuzz_support::check;
  reader r{data, size};
  const uint8_t flags = r.byte();
  doctor::folder_read read;
  read.folder = "C:\\Games\\Game";
  read.folder_exists = !(flags & 1);
  read.logs_folder = flags & 2;
  read.user_folder = "C:\\Users\\p\\AppData\\Roaming\\Ostrel";
  read.user_folder_exists = flags & 4;
  if (flags & 8) read.virtual_store = "C:\\Users\\p\\AppData\\Local\\VirtualStore\\Game";

  doctor::executable_read exe;
  exe.name = flags & 16 ? "bf2_w32ded.exe" : "game.exe";
  exe.path = read.folder + "\\" + exe.name;
  exe.backup_present = flags & 32;
  exe.file = file_of(r.part(), true);
  read.dll = file_of(r.part(), !(flags & 64));
  exe.settings_name = "ostrel_" + exe.name + ".cfg";
  exe.settings = file_of(r.part(), true);
  exe.log_name = "logs/ostrel/2023-11-14_" + exe.name + ".log";
  exe.log = file_of(r.part(), true);
  for (int n = 0; n < 2; ++n) {
    exe.cache_name[n] = "network_" + std::to_string(n) + "_tag";
    exe.cache[n] = file_of(r.part(), true);
  }
  read.ranked = file_of(r.part(), true);
  read.provider = file_of(r.part(), !(flags & 128));
  if (read.provider.present) read.provider_path = "python/bf2/stats/ostrelProviderID.sec";
  read.executables.push_back(exe);
  doctor::registry_values& v = read.registry;
  v.user_key = true;
  for (doctor::registry_read* value : {&v.browser_mode_user, &v.browser_mode_machine,
                                       &v.ranking_retail, &v.ranking_mods, &v.opmode, &v.opvdata})
    *value = value_of(r);

  const std::vector<doctor::finding> findings = doctor::diagnose(read, 1700000000, 20);
  check(!findings.empty());
  for (const doctor::finding& f : findings) check(f.mark != doctor::level::problem || !f.hint.empty());
  check(!doctor::report_text(findings).empty());
  check(!doctor::report_json(read.folder, findings).empty());

  // The DLL reader alone, over the same bytes.
  pe::library_view view;
  std::string error;
  if (pe::read_library(read.dll.bytes.data(), read.dll.bytes.size(), view, error) != 0)
    check(!error.empty() && error.find('\n') == std::string::npos);
  return 0;
}
