// Gathers the folder, the per-user folder and the registry for diagnose().
#include "doctor/doctor_gather.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/bytes.h"
#include "common/path_text.h"
#include "common/queue_folder_view.h"
#include "core/host_image.h"
#include "core/host_names.h"
#include "core/launcher.h"
#include "core/log.h"
#include "core/process_state.h"
#include "core/user_files.h"
#include "doctor/doctor_host.h"
#include "pe/patch_exe.h"
#include "platform/platform.h"
#include "ranked/ranked_file.h"
#include "snapshot/provider_id.h"
#include "snapshot/queue_folder.h"

namespace doctor {
namespace {

namespace fs = std::filesystem;

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  return s;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string join(const std::string& folder, const std::string& name) {
#ifdef _WIN32
  constexpr char separator = '\\';
#else
  constexpr char separator = '/';
#endif
  if (folder.empty()) return name;
  const char last = folder.back();
  return last == '/' || last == '\\' ? folder + name : folder + separator + name;
}

bool is_folder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(tool::text_path(native_path(path)), ec);
}

bool file_present(const std::string& path) {
  struct stat st;
  return ::stat(native_path(path).c_str(), &st) == 0;
}

registry_read read_value(platform::registry_key* key, const char* name) {
  registry_read out;
  if (!key) return out;
  uint32_t type = 0, size = 0;
  if (platform::registry_query(key, name, &type, nullptr, &size) != 0) return out;
  out.present = true;
  out.type = type;
  out.size = size;
  if (size > (1u << 20)) return out;
  std::vector<uint8_t> data(size ? size : 1);
  uint32_t got = size;
  if (platform::registry_query(key, name, &type, data.data(), &got) == 0 && got <= size) {
    data.resize(got);
    out.data = data;
    out.type = type;
  }
  return out;
}

registry_values read_registry() {
  registry_values v;
  platform::registry_key* user = platform::registry_open(platform::registry_root::current_user);
  platform::registry_key* machine = platform::registry_open(platform::registry_root::local_machine);
  v.user_key = user != nullptr;
  v.machine_key = machine != nullptr;
  v.browser_mode_user = read_value(user, "serverBrowserMode");
  v.browser_mode_machine = read_value(machine, "serverBrowserMode");
  v.ranking_retail = read_value(user, "rkgRetail");
  v.ranking_mods = read_value(user, "rkgMods");
  v.opmode = read_value(user, "client_opmode");
  v.opvdata = read_value(user, "client_opvdata");
  if (user) platform::registry_close(user);
  if (machine) platform::registry_close(machine);
  if (v.opvdata.data.size() >= core::launcher_record_size) {
    const uint32_t pid = bytes::load_u32le(v.opvdata.data.data() + core::lr_pid);
    char image[260];
    if (platform::process_image_name(pid, image, sizeof image) == 0) {
      image[sizeof image - 1] = '\0';
      v.opvdata_image = image;
    }
  }
  return v;
}

// Writes and removes a file of the tool's own; "" when both worked.
std::string try_writing(const std::string& folder) {
  const std::string path =
      folder + "\\ostrel-tool-doctor." + std::to_string(platform::process_id()) + ".tmp";
  FILE* file = std::fopen(native_path(path).c_str(), "wb");
  if (!file) return std::strerror(errno);
  const bool written = std::fwrite("doctor", 1, 6, file) == 6;
  const bool closed = std::fclose(file) == 0;
  std::remove(native_path(path).c_str());
  if (!written || !closed) return "a file there cannot be written whole (is the disk full?)";
  return "";
}

// The per-executable names the library derives from its path, through the
// library's own routines (which fill the process-wide names).
void library_names(executable_read& exe, int64_t now) {
  char executable_name[sizeof core::process.host_executable_name] = "";
  char settings_name[sizeof core::process.settings_file_name] = "ostrel.cfg";
  core::derive_host_names(exe.path.c_str(), executable_name, sizeof executable_name, settings_name,
                          sizeof settings_name);
  std::memcpy(core::process.host_executable_name, executable_name, sizeof executable_name);
  char log_name[core::log_file_name_size];
  if (core::log_file_name(log_name, sizeof log_name, static_cast<uint32_t>(now)) >= 0)
    exe.log_name = log_name;
  core::process.host_executable_name[0] = '\0';
  exe.settings_name = settings_name;
}

std::string host_image_tag(const std::string& path) {
  FILE* file = std::fopen(native_path(path).c_str(), "rb");
  if (!file) return "unknown";
  uint8_t record[core::host_image_record_size];
  char tag[33] = "unknown";
  core::compute_host_image_record(file, record, tag);
  std::fclose(file);
  return tag;
}

}  // namespace

bool is_tool_name(const std::string& file_name) {
  const std::string name = lower(file_name);
  return name.rfind("ostrel-tool", 0) == 0 && ends_with(name, ".exe");
}

file_read read_file(const std::string& path, size_t limit, bool tail) {
  file_read out;
  const std::string native = native_path(path);
  struct stat st;
  if (::stat(native.c_str(), &st) == 0) {
    out.present = true;
    out.modified = static_cast<int64_t>(st.st_mtime);
  }
  FILE* file = std::fopen(native.c_str(), "rb");
  if (!file) {
    if (out.present) out.error = std::strerror(errno);
    return out;
  }
  out.present = true;
  if (tail && std::fseek(file, 0, SEEK_END) == 0) {
    const long end = std::ftell(file);
    if (end > 0 && static_cast<unsigned long>(end) > limit) {
      std::fseek(file, end - static_cast<long>(limit), SEEK_SET);
      out.size = static_cast<uint64_t>(end) - limit;
    } else {
      std::fseek(file, 0, SEEK_SET);
    }
  }
  // Read in pieces to the end: the size counts everything, the bytes keep
  // the first (or last) limit of them, whatever the file's size.
  std::vector<uint8_t> piece(64 * 1024);
  size_t got;
  while ((got = std::fread(piece.data(), 1, piece.size(), file)) > 0) {
    out.size += got;
    if (tail) {
      out.bytes.insert(out.bytes.end(), piece.begin(), piece.begin() + static_cast<long>(got));
      if (out.bytes.size() > 2 * limit)
        out.bytes.erase(out.bytes.begin(), out.bytes.end() - static_cast<long>(limit));
    } else if (out.bytes.size() < limit) {
      const size_t take = std::min(got, limit - out.bytes.size());
      out.bytes.insert(out.bytes.end(), piece.begin(), piece.begin() + static_cast<long>(take));
    }
  }
  if (std::ferror(file)) out.error = "it cannot be read to its end";
  std::fclose(file);
  if (tail && out.bytes.size() > limit)
    out.bytes.erase(out.bytes.begin(), out.bytes.end() - static_cast<long>(limit));
  return out;
}

queue_read read_queue(const std::string& folder) {
  queue_read q;
  q.folder = folder;
  q.present = is_folder(folder);
  if (!q.present) return q;
  tool::queue_listing listing;
  if (!tool::list_queue_folder(native_path(folder), listing, q.error)) return q;
  tool::read_queue_files(listing, [&q](const tool::queued_file& f, const uint8_t*) {
    if (f.sound) {
      ++q.waiting;
      if (f.submitted && (!q.oldest_submitted || f.submitted < q.oldest_submitted))
        q.oldest_submitted = f.submitted;
    } else if (f.state != "temporary" && f.state != "other") {
      ++q.set_aside;  // set aside by the library, or failing its check
    }
  });
  return q;
}

std::string virtual_store_folder(const std::string& folder, const std::string& local_appdata) {
  if (folder.size() < 3 || folder[1] != ':' || (folder[2] != '\\' && folder[2] != '/')) return "";
  const std::string rest = folder.substr(3);
  const std::string top = lower(rest.substr(0, rest.find_first_of("\\/")));
  if (top != "program files" && top != "program files (x86)") return "";
  return (local_appdata.empty() ? std::string("%LOCALAPPDATA%") : local_appdata) +
         "\\VirtualStore\\" + rest;
}

folder_read gather_folder(const std::string& folder, int64_t now) {
  folder_read r;
  r.folder = folder;
  r.folder_exists = is_folder(folder);
  r.registry = read_registry();

  char user[core::user_path_size];
  if (core::user_folder_path(user) == 0 && user[0]) {
    r.user_folder = user;
    r.user_folder_exists = is_folder(r.user_folder);
    if (r.user_folder_exists) r.user_folder_write_error = try_writing(r.user_folder);
    r.ranked = read_file(r.user_folder + "\\" + ranked::ranked_file_name, read_limit);
    r.queue = read_queue(r.user_folder + "\\" + snapshot::queue_folder_name);
  }
  if (!r.folder_exists) return r;

  // The folder as the library will see it in the game's path: whole, and in
  // the code page (the given text where it cannot be made whole).
  std::error_code ec;
  const fs::path absolute = fs::absolute(tool::text_path(native_path(folder)), ec);
  std::string whole_folder = ec ? "" : tool::path_text(absolute);
  if (whole_folder.empty()) whole_folder = folder;
  r.virtual_store = virtual_store_folder(whole_folder, local_appdata_folder());
  r.dll = read_file(join(folder, "ostrel.dll"), size_t{16} << 20);
  r.logs_folder = is_folder(join(folder, "logs/ostrel"));
  if (!r.virtual_store.empty()) r.virtual_logs_folder = is_folder(r.virtual_store + "\\logs\\ostrel");

  std::vector<std::string> names;
  fs::directory_iterator it(tool::text_path(native_path(folder)), ec);
  for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    std::error_code type_error;
    if (it->is_directory(type_error)) continue;
    // A name the system's code page cannot spell cannot be opened by the
    // game's narrow calls either: it is counted, not read.
    const fs::path file_name = it->path().filename();
    const std::string name = tool::path_text(file_name);
    if (name.empty()) {
      if (lower(tool::path_text(file_name.extension())) == ".exe") ++r.unspellable_executables;
      continue;
    }
    if (ends_with(lower(name), ".exe") && !is_tool_name(name)) names.push_back(name);
  }
  if (ec) r.listing_error = ec.message();
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    executable_read exe;
    exe.name = name;
    exe.path = join(whole_folder, name);
    exe.file = read_file(join(folder, name), size_t{64} << 20);
    exe.backup_present = file_present(join(folder, name + tool::backup_suffix));
    library_names(exe, now);
    exe.settings = read_file(join(folder, exe.settings_name), read_limit);
    if (!exe.log_name.empty()) {
      exe.log = read_file(join(folder, exe.log_name), log_tail_limit, true);
      if (!r.virtual_store.empty()) {
        // One kind of separator in a path the player may copy into Explorer.
        std::string name = exe.log_name;
        for (char& c : name)
          if (c == '/') c = '\\';
        exe.virtual_log_path = r.virtual_store + "\\" + name;
        exe.virtual_log = read_file(exe.virtual_log_path, log_tail_limit, true);
      }
    }
    const std::string tag = host_image_tag(join(folder, name));
    for (int n = 0; n < 2; ++n) {
      exe.cache_name[n] = "network_" + std::to_string(n) + "_" + tag;
      if (!r.user_folder.empty())
        exe.cache[n] = read_file(r.user_folder + "\\" + exe.cache_name[n], read_limit);
    }
    r.executables.push_back(std::move(exe));
  }
  // The first provider ID file that opens is the one a server uses.
  for (const char* path : snapshot::provider_id_paths) {
    file_read file = read_file(join(folder, path), read_limit);
    if (file.present) {
      r.provider_path = path;
      r.provider = std::move(file);
      break;
    }
  }
  return r;
}

}  // namespace doctor
