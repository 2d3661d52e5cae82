// ostrel-service: runs pieces of the reference replacement service on loopback.
// Each mode is one entry of the table below: a name, a one-line usage and a
// function over the remaining arguments.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "service/deploy_file.h"
#include "service/log_collector.h"

namespace {

std::atomic<bool> interrupted{false};
void on_signal(int) { interrupted = true; }

void wait_for_interrupt() {
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  while (!interrupted) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// deploy <deploy.conf>: checks a deployment file and shows what it names.
int run_deploy(int argc, char** argv) {
  if (argc < 1) return 2;
  service::deploy_values values;
  std::string error;
  if (!service::read_deploy_file(argv[0], values, error)) {
    std::fprintf(stderr, "ostrel-service: %s\n", error.c_str());
    return 1;
  }
  std::printf("deployment: lookup host %s\n", values.get("lookup_host").c_str());
  return 0;
}

// log-collector [port] [address]: prints every echoed log line until interrupted.
int run_log_collector(int argc, char** argv) {
  long port = argc >= 1 ? std::strtol(argv[0], nullptr, 10) : service::log_collector_port;
  if (port <= 0 || port > 65535) return 2;
  service::log_collector collector(static_cast<uint16_t>(port), argc >= 2 ? argv[1] : "127.0.0.1");
  collector.on_record([](const service::log_record& r) {
    std::printf("%s\n", service::format_log_record(r).c_str());
    std::fflush(stdout);
  });
  std::string error;
  if (!collector.start(&error)) {
    std::fprintf(stderr, "ostrel-service: log collector: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "log collector listening; Ctrl-C ends it\n");
  wait_for_interrupt();
  collector.stop();
  return 0;
}

struct mode {
  const char* name;
  const char* usage;
  int (*run)(int argc, char** argv);
};

const mode modes[] = {
    {"deploy", "deploy <deploy.conf>", run_deploy},
    {"log-collector", "log-collector [port] [address]", run_log_collector},
};

int usage() {
  std::fprintf(stderr, "usage:\n");
  for (const mode& m : modes) std::fprintf(stderr, "  ostrel-service %s\n", m.usage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  for (const mode& m : modes) {
    if (std::strcmp(argv[1], m.name) != 0) continue;
    int rc = m.run(argc - 2, argv + 2);
    return rc == 2 ? usage() : rc;
  }
  // Earlier releases took the deployment file as the only argument.
  return run_deploy(argc - 1, argv + 1);
}
