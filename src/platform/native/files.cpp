// Native files and folders; the application-data folder lives under a
// temporary directory unless a test names another.  Tests can also stop the
// disk dead after a chosen number of changes, cut the power (what was never
// flushed comes back empty) or fill the disk, to prove that files holding the
// last good state survive each of those.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <set>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "base/text.h"
#include "platform/native/seam_calls.h"
#include "platform/native/test_controls.h"

namespace platform {
namespace {
std::mutex guard;
bool appdata_set = false;
bool appdata_valid = true;
std::string appdata;

// The disk under test: a limit on changes (create, write, move, replace,
// remove, open for writing), the files whose bytes are not yet flushed, and
// a full disk.
long change_limit = -1;
long changes_made = 0;
bool change_refused = false;
bool disk_full = false;
bool real_syncs = true;
std::set<std::string> unflushed;

std::string default_appdata() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  return base + "/ostrel-appdata-" + std::to_string(::getpid());
}

// Windows-style separators from portable code name the same folders here.
std::string native_path(const char* path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

std::function<void(const std::string&)> change_hook;

// false when the disk has stopped: the change must not happen.  The hook runs
// first, outside the lock: another writer acting just before this change.
bool may_change(const std::string& target) {
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> hold(guard);
    hook = change_hook;
  }
  if (hook) hook(target);
  std::lock_guard<std::mutex> hold(guard);
  if (change_limit >= 0 && changes_made >= change_limit) {
    change_refused = true;
    return false;
  }
  ++changes_made;
  return true;
}

bool stopped() {
  std::lock_guard<std::mutex> hold(guard);
  return change_limit >= 0 && changes_made >= change_limit;
}

void mark_unflushed(const std::string& path, bool pending) {
  std::lock_guard<std::mutex> hold(guard);
  if (pending)
    unflushed.insert(path);
  else
    unflushed.erase(path);
}

void carry_unflushed(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> hold(guard);
  const bool pending = unflushed.erase(from) > 0;
  unflushed.erase(to);
  if (pending) unflushed.insert(to);
}

bool full() {
  std::lock_guard<std::mutex> hold(guard);
  return disk_full;
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool syncs() {
  std::lock_guard<std::mutex> hold(guard);
  return real_syncs;
}

int sync_file(int fd) { return syncs() ? ::fsync(fd) : 0; }

// A rename is on the disk once its folder is.
void sync_folder_of(const std::string& path) {
  if (!syncs()) return;
  const int fd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool write_whole(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

FILE* open_file(const char* path, const char* mode) {
  seam_calls::note("open_file", path);
  const std::string native = native_path(path);
  // Appending (the log) is no change a crash point counts, but a stopped
  // disk takes no more lines.
  if (mode[0] == 'a' && stopped()) return nullptr;
  const bool writes = mode[0] == 'w' || std::strchr(mode, '+') != nullptr;
  if (writes) {
    if (!may_change(native) || full()) return nullptr;
    mark_unflushed(native, true);  // a stdio stream is never flushed to the disk
  }
  return std::fopen(native.c_str(), mode);
}

int appdata_folder(char* out, size_t size) {
  seam_calls::note("appdata_folder");
  std::lock_guard<std::mutex> hold(guard);
  if (!appdata_set) {
    appdata = default_appdata();
    ::mkdir(appdata.c_str(), 0700);
    appdata_set = true;
  }
  if (!appdata_valid || size == 0) return 1;
  return text::copy_bounded(out, size, appdata.c_str());
}

void create_folder(const char* path) {
  seam_calls::note("create_folder", path);
  ::mkdir(native_path(path).c_str(), 0700);
}

int file_status(const char* path) {
  seam_calls::note("file_status", path);
  struct stat st;
  return ::stat(native_path(path).c_str(), &st) == 0 ? 0 : 1;
}

int replace_file(const char* from, const char* to) {
  seam_calls::note("replace_file", to);
  const std::string a = native_path(from), b = native_path(to);
  if (!may_change(b)) return 1;
  if (std::rename(a.c_str(), b.c_str()) != 0) return 1;
  carry_unflushed(a, b);
  return 0;
}

void remove_file(const char* path) {
  seam_calls::note("remove_file", path);
  const std::string p = native_path(path);
  if (!may_change(p)) return;
  if (std::remove(p.c_str()) == 0) mark_unflushed(p, false);
}

int write_new_file(const char* path, const void* data, size_t size) {
  seam_calls::note("write_new_file", path);
  const std::string p = native_path(path);
  if (!may_change(p)) return 1;
  const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return 1;
  // The bytes are a second change: a disk that stops here leaves the empty
  // file behind, as a process killed between the two would.
  const bool written = may_change(p) && !full() && write_whole(fd, data, size) && sync_file(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (written && closed) {
    mark_unflushed(p, false);
    return 0;
  }
  if (may_change(p)) ::unlink(p.c_str());
  return 1;
}

int move_file_exclusive(const char* from, const char* to) {
  seam_calls::note("move_file_exclusive", to);
  const std::string a = native_path(from), b = native_path(to);
  if (!may_change(b)) return 1;
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) != 0) {
    // A file system without the flag: a link is just as exclusive, and a
    // crash before the old name goes leaves a second name of the same bytes,
    // which only ever is a temporary one.
    if (errno != EINVAL && errno != ENOSYS) return 1;
    if (::link(a.c_str(), b.c_str()) != 0) return 1;
    ::unlink(a.c_str());
  }
  carry_unflushed(a, b);
  sync_folder_of(b);
  return 0;
}

int replace_file_durable(const char* from, const char* to) {
  seam_calls::note("replace_file_durable", to);
  const std::string a = native_path(from), b = native_path(to);
  if (!may_change(b)) return 1;
  if (std::rename(a.c_str(), b.c_str()) != 0) return 1;
  carry_unflushed(a, b);
  sync_folder_of(b);
  return 0;
}

int list_folder(const char* folder, void (*each)(const char* name, bool is_folder, void* context),
                void* context) {
  seam_calls::note("list_folder", folder);
  const std::string f = native_path(folder);
  DIR* dir = ::opendir(f.c_str());
  if (!dir) return 1;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    struct stat st;
    const bool is_folder =
        ::stat((f + "/" + entry->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    each(entry->d_name, is_folder, context);
  }
  ::closedir(dir);
  return 0;
}

namespace test {
void set_file_change_limit(long limit) {
  std::lock_guard<std::mutex> hold(guard);
  change_limit = limit;
  changes_made = 0;
  change_refused = false;
}

bool disk_stopped() {
  std::lock_guard<std::mutex> hold(guard);
  return change_refused;
}

long file_changes_made() {
  std::lock_guard<std::mutex> hold(guard);
  return changes_made;
}

void power_cut() {
  std::lock_guard<std::mutex> hold(guard);
  for (const std::string& path : unflushed) ::truncate(path.c_str(), 0);
  unflushed.clear();
}

void set_file_change_hook(std::function<void(const std::string& target)> hook) {
  std::lock_guard<std::mutex> hold(guard);
  change_hook = std::move(hook);
}

void set_disk_full(bool is_full) {
  std::lock_guard<std::mutex> hold(guard);
  disk_full = is_full;
}

void set_real_disk_syncs(bool real) {
  std::lock_guard<std::mutex> hold(guard);
  real_syncs = real;
}

void set_appdata_folder(const char* path) {
  std::lock_guard<std::mutex> hold(guard);
  appdata_set = true;
  appdata_valid = path != nullptr;
  appdata = path ? path : "";
}
}  // namespace test

}  // namespace platform
