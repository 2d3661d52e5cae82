// hostsim under Wine: process start with pipes, line I/O with time-outs, and
// the run's Wine prefix.
#include "wine_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace e2e {
namespace {

void set_wine_environment() {
  setenv("WINEPREFIX", wine_prefix().c_str(), 1);
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
  setenv("WINEARCH", "win32", 1);
}

}  // namespace

std::string win_bin() {
  const char* env = std::getenv("OSTREL_WIN_BIN");
  return env && *env ? env : OSTREL_WIN_BIN;
}
std::string client_dir() { return win_bin() + "/testbed/client"; }
std::string server_dir() { return win_bin() + "/testbed/w32ded_server"; }
std::string plain_dir() { return win_bin() + "/testbed/plain"; }
// The emulated VM of scripts/wine-vm.sh names a folder on its own disk: a prefix
// in the shared build tree is slow there.
std::string prefix_dir() {
  const char* dir = std::getenv("OSTREL_WINE_PREFIX_DIR");
  return dir && *dir ? dir : OSTREL_BUILD_DIR;
}
std::string wine_prefix() { return prefix_dir() + "/e2e-wineprefix"; }

std::string unix_path(const std::string& windows_path) {
  std::string p = windows_path;
  if (p.size() < 3 || (p[0] != 'C' && p[0] != 'c') || p[1] != ':') return "";
  p = wine_prefix() + "/drive_c" + p.substr(2);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

std::string run_capture(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  if (status) *status = rc;
  return out;
}

int wine_through_files(const std::string& dir, const std::string& command, const std::string& input,
                       std::string* out) {
  const std::string in_file = dir + ".wine-input.txt";
  const std::string out_file = dir + ".wine-output.txt";
  {
    std::ofstream in(in_file, std::ios::binary);
    in << input;
  }
  int status = -1;
  run_capture("cd '" + dir + "' && wine " + command + " <'" + in_file + "' >'" + out_file + "' 2>&1",
              &status);
  std::ifstream text(out_file, std::ios::binary);
  out->assign(std::istreambuf_iterator<char>(text), {});
  std::remove(in_file.c_str());
  std::remove(out_file.c_str());
  return status;
}

bool wine_runs() { return std::system("wine --version >/dev/null 2>&1") == 0; }

void start_wine() {
  set_wine_environment();
  std::string prefix = wine_prefix();
  // Building a prefix takes Wine about 20 s: make it once, copy it fresh for
  // every run so that registry and per-user files never leak between runs. The
  // emulated VM carries a pristine one, made when its image was built (there,
  // Wine takes minutes to make one).
  const char* ready = std::getenv("OSTREL_WINE_PREFIX_TEMPLATE");
  std::string templ = ready && *ready ? ready : prefix_dir() + "/e2e-wineprefix-template";
  std::string make_template = "test -f '" + templ + "/system.reg' || (rm -rf '" + templ +
                              "' && WINEPREFIX='" + templ +
                              "' wineboot -i >/dev/null 2>&1; WINEPREFIX='" + templ +
                              "' wineserver -w)";
  std::system(make_template.c_str());
  std::system(("mkdir -p '" + prefix_dir() + "' && rm -rf '" + prefix + "' && cp -a '" + templ +
               "' '" + prefix + "'")
                  .c_str());
  std::system("wineserver -p >/dev/null 2>&1");
}

void stop_wine() {
  set_wine_environment();
  std::system("wineserver -k >/dev/null 2>&1");
}

hostsim::~hostsim() { stop(); }

bool hostsim::start(const std::string& dir, const std::string& arguments) {
  // A Wine process very rarely dies while Wine itself starts it up, before any
  // of our code runs; one more try tells that apart from a host that cannot start.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (launch(dir, arguments) && read_line(60000) == "ok ready") return true;
    std::fprintf(stderr, "hostsim in %s did not report ready (attempt %d)\n", dir.c_str(),
                 attempt + 1);
    stop();
  }
  return false;
}

bool hostsim::launch(const std::string& dir, const std::string& arguments) {
  int in_pipe[2], out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0) return false;
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    close(in_pipe[0]);
    close(in_pipe[1]);
    return false;
  }
  set_wine_environment();
  pid_ = fork();
  if (pid_ < 0) {
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1]}) close(fd);
    return false;
  }
  if (pid_ == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    close(in_pipe[1]);
    close(out_pipe[0]);
    if (chdir(dir.c_str()) != 0) _exit(127);
    std::string cmd = "exec wine hostsim.exe " + arguments;
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  to_child_ = in_pipe[1];
  from_child_ = out_pipe[0];
  return pid_ > 0;
}

std::string hostsim::read_line(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0 || from_child_ < 0) return "";
    pollfd p{from_child_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) return "";
    char buf[4096];
    ssize_t n = read(from_child_, buf, sizeof buf);
    if (n <= 0) return "";
    pending_.append(buf, static_cast<size_t>(n));
  }
}

std::string hostsim::command(const std::string& line, int timeout_ms) {
  if (to_child_ < 0) return "";
  std::string text = line + "\n";
  if (write(to_child_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
  return read_line(timeout_ms);
}

int hostsim::stop() {
  if (pid_ <= 0) return -1;
  if (to_child_ >= 0) {
    command("exit", 5000);
    close(to_child_);
    to_child_ = -1;
  }
  int result = -1;
  for (int i = 0; i < 100; ++i) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      if (WIFEXITED(status)) result = WEXITSTATUS(status);
      break;
    }
    usleep(50000);
  }
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (from_child_ >= 0) close(from_child_);
  from_child_ = -1;
  pending_.clear();
  return result;
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

}  // namespace e2e
