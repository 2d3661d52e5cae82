// Drives hostsim.exe under Wine over its standard input and output, in one
// private Wine prefix per test run.
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

namespace e2e {

// Paths of the DLL build's testbed.
std::string win_bin();
std::string client_dir();  // hostsim.exe + ostrel.dll as a game client
std::string server_dir();  // the same under a folder whose name holds "w32ded"
std::string plain_dir();   // hostsim.exe linked to WS2_32.dll itself
std::string wine_prefix();
// A "C:\..." path inside the Wine prefix as this side sees it ("" for other drives).
std::string unix_path(const std::string& windows_path);
// Runs a shell command line and returns its standard output.
std::string run_capture(const std::string& command, int* status = nullptr);

// Runs "wine <command>" in dir with input on its standard input; its wait
// status, and its output (standard output and error) in *out.  Both go
// through files beside dir: the first Wine program of a run starts Wine's own
// services, which inherit its standard output and keep a pipe open for good,
// so reading a pipe to its end would never finish.
int wine_through_files(const std::string& dir, const std::string& command, const std::string& input,
                       std::string* out);

// Whether Wine can run 32-bit programs here at all.
bool wine_runs();

// Creates the run's prefix (fresh copy of a template made once) and starts a
// persistent wineserver; stop_wine ends it.
void start_wine();
void stop_wine();

class hostsim {
 public:
  hostsim() = default;
  hostsim(const hostsim&) = delete;
  hostsim& operator=(const hostsim&) = delete;
  ~hostsim();

  // Starts <dir>/hostsim.exe with dir as working folder; true once it said "ok ready".
  bool start(const std::string& dir, const std::string& arguments = "");
  // Sends one command line and returns its one-line answer ("" on time-out).
  std::string command(const std::string& line, int timeout_ms = 15000);
  // Asks hostsim to exit; its exit status, or -1 when it had to be killed
  // (or was not running).
  int stop();
  pid_t pid() const { return pid_; }

 private:
  bool launch(const std::string& dir, const std::string& arguments);
  std::string read_line(int timeout_ms);
  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  std::string pending_;
};

// Splits "ok a b c" into {"ok", "a", "b", "c"}.
std::vector<std::string> words(const std::string& line);

}  // namespace e2e
