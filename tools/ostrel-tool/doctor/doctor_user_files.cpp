// The per-user folder and the files the library keeps there: the look-up
// cache files of each executable and the ranked list file, checked with the
// library's own routines and the keys built into this tool.
#include <cstring>
#include <string>

#include "base/bytes.h"
#include "doctor/doctor_findings.h"
#include "ranked/ranked_blob.h"
#include "ranked/ranked_file.h"
#include "redirect/address_entries.h"
#include "redirect/address_table.h"
#include "redirect/lookup_answer.h"
#include "redirect/lookup_cache.h"
#include "redirect/lookup_records.h"

namespace doctor {
namespace {

// The library's limits: file 0 at 12 hours, file 1 at 24.
constexpr uint32_t cache_max_age[2] = {43200, 86400};

// Why the loader refuses the file, or "" and the entries it holds.
std::string check_cache(const std::vector<uint8_t>& data, uint32_t* time, size_t* entries) {
  using namespace redirect;
  const size_t size = data.size();
  if (size < sizeof cache_magic || std::memcmp(data.data(), cache_magic, sizeof cache_magic) != 0)
    return "not a look-up cache file (no \"HTI1\" at its start)";
  if (size < lcf_body + lookup_body_min_size || size > lookup_cache_max_size)
    return "holds " + std::to_string(size) + " bytes, not " +
           std::to_string(lcf_body + lookup_body_min_size) + " to " +
           std::to_string(lookup_cache_max_size);
  if (static_cast<size_t>(bytes::load_u16le(data.data() + lcf_length)) + lcf_length_base != size)
    return "its length field does not match its size (cut short?)";
  *time = bytes::load_u32le(data.data() + lcf_time);
  uint8_t payload[lookup_payload_max_size];
  size_t payload_size = 0;
  if (open_answer_payload(data.data() + lcf_body, size - lcf_body, data.data() + lcf_id, *time,
                          bytes::load_u32le(data.data() + lcf_tag), payload, &payload_size) != 0)
    return "its code does not verify with this tool's deployment keys (another deployment's "
           "file, or damaged)";
  *entries = lookup_payload_entries(payload, payload_size);
  return "";
}

void cache_finding(const folder_read& read, const executable_read& exe, int n, int64_t now,
                   std::vector<finding>& out) {
  const file_read& file = exe.cache[n];
  const std::string name = printable(exe.cache_name[n]) + " (of " + printable(exe.name) + ")";
  const char* topic = "look-up cache";
  if (!file.present) {
    // File 0 is the client's own; file 1 comes from elsewhere and is optional.
    const bool expected = n == 0 && !is_server(exe) && read.user_folder_exists;
    out.push_back({expected ? level::warning : level::ok, topic,
                   name + ": none" +
                       (n == 0 ? std::string(is_server(exe)
                                                 ? " (a dedicated server keeps none)"
                                                 : " yet (written after the game's first look-up)")
                               : std::string(" (optional)")),
                   "", {}});
    return;
  }
  uint32_t time = 0;
  size_t entries = 0;
  const std::string why = file.error.empty() ? check_cache(file.bytes, &time, &entries)
                                             : "cannot be read (" + file.error + ")";
  if (!why.empty()) {
    out.push_back({level::warning, topic, name + ": the library ignores it: " + why, "", {}});
    return;
  }
  const int64_t age = now - static_cast<int64_t>(time);
  const std::string limit = n == 0 ? "12 h" : "24 h";
  if (age > static_cast<int64_t>(cache_max_age[n])) {
    out.push_back({level::warning, topic,
                   name + ": " + std::to_string(entries) + " entries, " + age_text(age) +
                       " old, past the library's " + limit +
                       ": ignored at start-up until the next look-up refreshes it",
                   "", {}});
    return;
  }
  out.push_back({level::ok, topic,
                 name + ": verifies, " + std::to_string(entries) + " entries, " +
                     (age < 0 ? "dated " + age_text(-age) + " in the future"
                              : age_text(age) + " old") +
                     " (limit " + limit + ")",
                 "", {}});
}

void ranked_finding(const folder_read& read, int64_t now, std::vector<finding>& out) {
  const char* topic = "ranked list";
  const std::string name = ranked::ranked_file_name;
  if (!read.ranked.present) {
    out.push_back({level::ok, topic,
                   name + ": none (fetched when the server browser opens with serverBrowserMode 1)",
                   "", {}});
    return;
  }
  const std::vector<uint8_t>& f = read.ranked.bytes;
  std::string why;
  size_t count = 0;
  if (!read.ranked.error.empty()) {
    why = "cannot be read (" + read.ranked.error + ")";
  } else if (f.size() < ranked::rlf_blob ||
             std::memcmp(f.data() + ranked::rlf_magic, ranked::ranked_file_magic, 4) != 0) {
    why = "not a ranked list file (no \"HRC1\" at its start)";
  } else if (bytes::load_u32le(f.data() + ranked::rlf_length) != f.size() - ranked::rlf_blob ||
             read.ranked.size != f.size()) {
    why = "its length field does not match its size (cut short?)";
  } else {
    std::vector<uint8_t> blob(f.begin() + ranked::rlf_blob, f.end());
    if (ranked::verify_ranked_blob(blob.data(), blob.size()) != 0) {
      why = "it does not verify with this tool's deployment keys (version, length or signature)";
    } else {
      std::vector<uint8_t> table(ranked::ranked_table_size);
      count = ranked::build_ranked_table(blob.data(), blob.size(), table.data());
    }
  }
  if (!why.empty()) {
    out.push_back({level::warning, topic, name + ": the library ignores it: " + why, "", {}});
    return;
  }
  std::string text = name + ": verifies, " + std::to_string(count) + " servers";
  if (read.ranked.modified >= 0) text += ", written " + age_text(now - read.ranked.modified) + " ago";
  out.push_back({level::ok, topic, text, "", {}});
}

}  // namespace

size_t lookup_payload_entries(const uint8_t* payload, size_t size) {
  // Parsed by the library into a table of its own size, then counted.
  std::vector<uint8_t> staging(redirect::address_table_size);
  redirect::table_view table{staging.data(), staging.size(), 0};
  redirect::parse_lookup_payload(payload, size, table);
  size_t count = 0;
  for (size_t at = 0; at + redirect::entry_header_size <= table.end;) {
    const uint8_t n = staging[at + redirect::entry_count];
    if (n == 0) break;
    ++count;
    at += redirect::entry_header_size + 4 * static_cast<size_t>(n);
  }
  return count;
}

void user_file_findings(const folder_read& read, int64_t now, std::vector<finding>& out) {
  const char* topic = "per-user folder";
  if (read.user_folder.empty()) {
    out.push_back({level::problem, topic,
                   "the system names no application-data folder: the library keeps no files",
                   "check that the user profile is complete (%APPDATA% is set)", {}});
    return;
  }
  const std::string where = printable(read.user_folder);
  if (!read.user_folder_exists) {
    out.push_back({level::warning, topic,
                   where + " does not exist yet: ostrel.dll creates it when the game first "
                           "goes online (its first look-up of a host name)",
                   "", {}});
    return;
  }
  if (!read.user_folder_write_error.empty())
    out.push_back({level::problem, topic,
                   where + " cannot be written (" + printable(read.user_folder_write_error) +
                       "): the library cannot keep its cache files",
                   "give your user account write access to " + where, {}});
  else
    out.push_back({level::ok, topic, where + " exists and can be written", "", {}});
  for (const executable_read& exe : read.executables)
    if (is_game_executable(exe))
      for (int n = 0; n < 2; ++n) cache_finding(read, exe, n, now, out);
  ranked_finding(read, now, out);
}

}  // namespace doctor
