// The server load.  Every snapshot carries its own number, so that the web
// server's record tells each one apart: at the end each submitted snapshot
// must have arrived once or have been dropped with a line in the log that
// says why.  The log names the library's own sequence numbers, not ours, so
// drops are counted, not matched.
#include "soak_server.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "wine_flow_server.h"
#include "wine_host.h"

namespace soak {
namespace {

using clock_type = std::chrono::steady_clock;
using fault = service::stats_http_server::fault;

constexpr double submit_every_s = 3;
constexpr double script_line_every_s = 20;
constexpr int sample_every_s = 10;
constexpr int drain_limit_s = 240;

struct phase {
  fault what;
  int status;
  const char* name;
};

// Short faults in turn, each followed by a healthy spell; one outage of
// several minutes (less in a short run) a little before half-way; the last
// sixth healthy, so that what waits can go.
phase phase_at(double t, double total) {
  const double outage_start = 0.45 * total;
  const double outage_length = std::min(300.0, 0.15 * total);
  if (t >= outage_start && t < outage_start + outage_length) return {fault::refuse, 0, "outage (refused)"};
  if (t >= total * 5 / 6) return {fault::none, 0, "healthy"};
  static const phase cycle[] = {
      {fault::none, 0, "healthy"},         {fault::answer_500, 0, "500"},
      {fault::none, 0, "healthy"},         {fault::status, 408, "408"},
      {fault::none, 0, "healthy"},         {fault::status, 429, "429"},
      {fault::keep_alive, 0, "keep-alive"}, {fault::none, 0, "healthy"},
      {fault::reset, 0, "reset"},          {fault::none, 0, "healthy"},
      {fault::silent, 0, "silent peer"},   {fault::none, 0, "healthy"},
      {fault::refuse, 0, "refused"},       {fault::none, 0, "healthy"},
      {fault::no_newline, 0, "no line end"}, {fault::slow, 0, "slow"},
  };
  const double step = std::clamp(total / 48, 5.0, 15.0);
  return cycle[static_cast<size_t>(t / step) % (sizeof cycle / sizeof cycle[0])];
}

std::string snapshot_text(long number) {
  std::string text = "soak-" + std::to_string(number) + "-";
  text.resize(160, 'x');
  return text;
}

class server_load {
 public:
  server_load(double seconds, server_flow::reference_service& service)
      : seconds_(seconds), service_(service) {}
  server_report run();

 private:
  bool start_server();
  void kill_server();
  void sample();
  void submit();
  long drops_logged() const;
  long settled() const;
  void count_deliveries();
  void note(const std::string& what) {
    if (report_.notes.size() < 20) report_.notes.push_back(what);
  }
  double since(clock_type::time_point t) const {
    return std::chrono::duration<double>(clock_type::now() - t).count();
  }

  double seconds_;
  server_flow::reference_service& service_;
  server_report report_;
  e2e::hostsim server_;
  server_flow::server flow_;
  clock_type::time_point started_, process_started_;
  long next_number_ = 0;
  std::vector<long> submitted_;
  std::string queue_folder_;
};

bool server_load::start_server() {
  if (!server_.start(e2e::server_dir()) || server_.command("py_start") != "ok")
    return report_.failure = "the server hostsim did not start", false;
  process_started_ = clock_type::now();
  report_.samples.clear();
  flow_ = e2e::flow_server(server_);
  if (!flow_.register_host()) return report_.failure = "the host module was not registered", false;
  const std::string imported = flow_.exec("import ostrellib");
  if (imported != "ok") return report_.failure = "import ostrellib: " + imported, false;
  const std::string identified = server_flow::identify(flow_);
  if (identified != "ok True") return report_.failure = "gpaInit: " + identified, false;
  return true;
}

// As a power switch or the task manager would: no exit, no detach.
void server_load::kill_server() {
  ::kill(server_.pid(), SIGKILL);
  server_.stop();
  ++report_.kills;
}

void server_load::sample() {
  soak::sample s;
  const std::string line = server_.command("resources");
  if (parse_sample(line, since(process_started_), s))
    report_.samples.push_back(s);
  else
    note("resources: " + line);
}

void server_load::submit() {
  const long number = next_number_++;
  const std::string answer = flow_.eval("ostrellib.glsSendSnapshot('" + snapshot_text(number) + "')");
  if (answer == "ok True") {
    ++report_.submitted;
    submitted_.push_back(number);
  } else {
    ++report_.declined;
    note("glsSendSnapshot: " + answer);
  }
}

long server_load::drops_logged() const {
  long drops = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(report_.log_folder, ec)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::string line;
    while (std::getline(in, line))
      if (line.find("SNAPSHOT: ") != std::string::npos &&
          (line.find(" discarded") != std::string::npos || line.find(" set aside") != std::string::npos))
        ++drops;
  }
  return drops;
}

// Submitted snapshots whose fate is known: arrived, or dropped with a reason.
long server_load::settled() const {
  std::map<std::string, int> arrived;
  for (const auto& s : service_.web.snapshots()) arrived[std::string(s.data.begin(), s.data.end())] = 1;
  return static_cast<long>(arrived.size()) + drops_logged();
}

void server_load::count_deliveries() {
  std::map<std::string, int> times;
  for (const auto& s : service_.web.snapshots()) ++times[std::string(s.data.begin(), s.data.end())];
  std::map<std::string, bool> ours;
  for (long n : submitted_) ours[snapshot_text(n)] = true;
  for (const auto& [data, count] : times) {
    if (!ours.count(data)) {
      ++report_.delivered_unknown;
      note("delivered but never submitted: " + data.substr(0, 40));
      continue;
    }
    ++report_.delivered_once;
    if (count > 1) {
      ++report_.delivered_twice;
      note("delivered " + std::to_string(count) + " times: " + data.substr(0, 40));
    }
  }
  report_.dropped_logged = drops_logged();
  report_.lost = std::max(0L, report_.submitted - report_.delivered_once - report_.dropped_logged);
  // A server killed while it uploads cannot know whether the service got the
  // snapshot: it drops it with a line rather than send it twice.
  report_.both = std::max(0L, report_.delivered_once + report_.dropped_logged - report_.submitted);
  std::error_code ec;
  report_.files_left = 0;
  for (const auto& entry : std::filesystem::directory_iterator(queue_folder_, ec)) {
    ++report_.files_left;
    note("left in the queue folder: " + entry.path().filename().string());
  }
}

server_report server_load::run() {
  report_.log_folder = e2e::server_dir() + "/logs/ostrel";
  std::error_code ec;
  std::filesystem::remove_all(report_.log_folder, ec);
  std::filesystem::create_directories(report_.log_folder, ec);
  if (!e2e::start_flow_server(server_)) {
    report_.failure = "the server hostsim did not start";
    return report_;
  }
  const std::string appdata = server_.command("appdata");
  server_.stop();
  if (appdata.rfind("ok ", 0) != 0) {
    report_.failure = "appdata: " + appdata;
    return report_;
  }
  queue_folder_ = e2e::unix_path(appdata.substr(3) + "\\Ostrel\\snapshots");
  std::filesystem::remove_all(queue_folder_, ec);
  service_.web.clear();
  // A slow reply still ends well inside the library's reply deadline; one
  // cut there all the same is counted by the web server (unconfirmed).
  service_.web.set_slow_byte_ms(5);
  started_ = clock_type::now();
  if (!start_server()) return report_;

  const char* current = "";
  double next_submit = 0, next_line = 0, next_sample = 0;
  bool killed = false;
  while (since(started_) < seconds_) {
    const double t = since(started_);
    const phase p = phase_at(t, seconds_);
    if (std::string(p.name) != current) {
      service_.web.set_status(p.status);
      service_.web.set_fault(p.what);
      current = p.name;
      report_.schedule.push_back(std::to_string(static_cast<int>(t)) + " s " + p.name);
    }
    if (!killed && t >= seconds_ / 4) {
      kill_server();
      killed = true;
      if (!start_server()) return report_;
      next_sample = 0;
    }
    if (since(process_started_) >= next_sample) {
      sample();
      next_sample += sample_every_s;
    }
    if (t >= next_submit) {
      submit();
      next_submit += submit_every_s;
    }
    if (t >= next_line) {
      if (flow_.eval("ostrellib.log('soak line " + std::to_string(report_.script_lines) + "')") == "ok None")
        ++report_.script_lines;
      next_line += script_line_every_s;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }

  // What still waits goes now, with the service healthy.
  service_.web.set_fault(fault::none);
  const auto drain_start = clock_type::now();
  while (settled() < report_.submitted && since(drain_start) < drain_limit_s)
    std::this_thread::sleep_for(std::chrono::seconds(1));
  sample();
  server_.stop();
  count_deliveries();
  report_.exchanges = service_.responder.requests();
  report_.unconfirmed = service_.web.unconfirmed();
  for (const auto& r : service_.collector.records())
    if (r.text.rfind("PY: soak line", 0) == 0) ++report_.echoed;
  return report_;
}

}  // namespace

server_report run_server(double seconds, server_flow::reference_service& service) {
  server_load load(seconds, service);
  return load.run();
}

}  // namespace soak
