// ostrel-service: runs pieces of the reference replacement service on loopback.
// Each mode is one entry of the table below: a name, a one-line usage and a
// function over the remaining arguments.
#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "service/deploy_file.h"
#include "service/log_collector.h"
#include "service/lookup_service.h"
#include "service/session_responder.h"
#include "service/stats_http_server.h"
#include "service/master_server.h"

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

// lookup <deploy.conf> [--port N] [--map name=a.b.c.d]...: answers lookup
// requests on 127.0.0.1 with the deployment's retired host names and ranking
// hosts mapped to 127.0.0.1 (and any --map), printing each request.
int run_lookup(int argc, char** argv) {
  if (argc < 1) return 2;
  service::deploy_values values;
  std::string error;
  uint32_t chain[4];
  if (!service::read_deploy_file(argv[0], values, error) || !values.chain("lookup_chain", chain)) {
    std::fprintf(stderr, "ostrel-service: %s\n", error.empty() ? "no lookup_chain" : error.c_str());
    return 1;
  }
  std::vector<std::pair<std::string, uint32_t>> table;
  for (const char* key : {"retired_stats_web_host", "retired_stats_host", "retired_push_host",
                          "ranking_host_official", "ranking_host_fmrcoop", "ranking_host_fmrcq",
                          "retired_snapshot_host"})
    if (!values.get(key).empty()) table.emplace_back(values.get(key), htonl(INADDR_LOOPBACK));
  long port = 29960;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--port" && i + 1 < argc) {
      port = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--map" && i + 1 < argc) {
      std::string map = argv[++i];
      size_t eq = map.find('=');
      in_addr address{};
      if (eq == std::string::npos || inet_pton(AF_INET, map.c_str() + eq + 1, &address) != 1) return 2;
      table.emplace_back(map.substr(0, eq), address.s_addr);
    } else {
      return 2;
    }
  }
  if (port <= 0 || port > 65535) return 2;
  service::lookup_service lookup(chain, static_cast<uint16_t>(port));
  for (const auto& [name, address] : table) {
    lookup.map_name(name, {address});
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    if (address == 0) {
      // A record naming 0.0.0.0 first would end every client's reading of the answer.
      std::fprintf(stderr, "ostrel-service: lookup: %s -> 0.0.0.0 left out of the answers\n",
                   name.c_str());
      continue;
    }
    std::printf("serving %s -> %s\n", name.c_str(), text);
  }
  lookup.on_request([](const service::lookup_request_seen& r) {
    char from[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &r.from_address, from, sizeof from);
    std::printf("request from %s:%u time %u tag 0x%08X host image record %zu bytes: %s\n", from,
                r.from_port, r.time, r.tag, r.host_image_record.size(),
                r.code_ok ? "answered" : "bad code, ignored");
    std::fflush(stdout);
  });
  if (!lookup.start()) {
    std::fprintf(stderr, "ostrel-service: lookup: cannot bind 127.0.0.1:%ld\n", port);
    return 1;
  }
  std::fprintf(stderr, "lookup service listening on 127.0.0.1:%u; Ctrl-C ends it\n", lookup.port());
  std::fflush(stdout);
  wait_for_interrupt();
  lookup.stop();
  return 0;
}

std::string address_text(uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

// Printable form of snapshot data: bytes outside 0x20..0x7E escaped, cut at 200.
std::string data_text(const std::vector<uint8_t>& data) {
  std::string out;
  for (size_t i = 0; i < data.size() && i < 200; ++i) {
    const uint8_t c = data[i];
    if (c >= 0x20 && c <= 0x7E && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char esc[5];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
    }
  }
  if (data.size() > 200) out += "...";
  return out;
}

// stats <deploy.conf> [--provider ID]... [--flags N] [--http-port N]
// [--session-port N] [--refuse-data TEXT --refuse-status N] [--keep-alive |
// --never-read]: the statistics web server (snapshot uploads) and the
// session responder on 127.0.0.1, printing every snapshot (numbered in order
// of acceptance) and exchange they accepted.
int run_stats(int argc, char** argv) {
  if (argc < 1) return 2;
  service::deploy_values values;
  service::stats_keys keys;
  std::string error;
  if (!service::read_deploy_file(argv[0], values, error) ||
      !service::stats_keys_from(values, keys, error)) {
    std::fprintf(stderr, "ostrel-service: %s\n", error.c_str());
    return 1;
  }
  std::vector<std::string> providers;
  unsigned long flags = 0;
  long http_port = service::stats_http_port, session_port = service::session_responder_port;
  std::string refused_data;
  long refused_status = 0;
  auto web_fault = service::stats_http_server::fault::none;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--keep-alive" || arg == "--never-read") {
      web_fault = arg == "--keep-alive" ? service::stats_http_server::fault::keep_alive
                                        : service::stats_http_server::fault::never_read;
      continue;
    }
    if (i + 1 >= argc) return 2;
    if (arg == "--provider") providers.push_back(argv[++i]);
    else if (arg == "--flags") flags = std::strtoul(argv[++i], nullptr, 0);
    else if (arg == "--http-port") http_port = std::strtol(argv[++i], nullptr, 10);
    else if (arg == "--session-port") session_port = std::strtol(argv[++i], nullptr, 10);
    else if (arg == "--refuse-data") refused_data = argv[++i];
    else if (arg == "--refuse-status") refused_status = std::strtol(argv[++i], nullptr, 10);
    else return 2;
  }
  if (refused_status < 0 || refused_status > 599 || (refused_status == 0) != refused_data.empty())
    return 2;
  if (http_port <= 0 || http_port > 65535 || session_port <= 0 || session_port > 65535) return 2;
  if (providers.empty()) providers.push_back("");

  service::stats_http_server web(keys, static_cast<uint16_t>(http_port));
  service::session_responder session(keys, static_cast<uint16_t>(session_port));
  for (const std::string& p : providers) {
    web.add_provider(p);
    session.add_provider(p);
  }
  session.set_flags(static_cast<uint32_t>(flags));
  web.refuse_data(refused_data, static_cast<int>(refused_status));
  web.set_fault(web_fault);
  // Called before the snapshot is counted: its number is one more.
  web.on_snapshot([&web](const service::snapshot_seen& s) {
    std::printf("snapshot #%zu from %s provider '%s': time %u game port %u query port %u server %s "
                "interface %s; tsdata midpoint %u service time %u start %u header time %u; "
                "%zu data bytes: %s\n",
                web.accepted() + 1, address_text(s.from_address).c_str(), s.provider_id.c_str(), s.time, s.game_port,
                s.query_port, address_text(s.server_address).c_str(),
                address_text(s.interface_address).c_str(), s.exchange_midpoint, s.service_time,
                s.start_time, s.header_time, s.data.size(), data_text(s.data).c_str());
    std::fflush(stdout);
  });
  session.on_request([](const service::session_request_seen& r, bool ok) {
    if (!ok) {
      std::printf("session request from %s:%u: no known provider signed it, ignored\n",
                  address_text(r.from_address).c_str(), r.from_port);
    } else {
      std::printf("session exchange with %s:%u provider '%s': time %u game port %u query port %u "
                  "server %s interface %s flags 0x%X start %u process %u\n",
                  address_text(r.from_address).c_str(), r.from_port, r.provider_id.c_str(), r.time,
                  r.game_port, r.query_port, address_text(r.server_address).c_str(),
                  address_text(r.interface_address).c_str(), r.session_flags, r.start_time,
                  r.process_id);
    }
    std::fflush(stdout);
  });
  if (!web.start(&error) || !session.start(&error)) {
    std::fprintf(stderr, "ostrel-service: stats: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "statistics web server on 127.0.0.1:%ld, session responder on "
               "127.0.0.1:%ld; Ctrl-C ends them\n", http_port, session_port);
  wait_for_interrupt();
  web.stop();
  session.stop();
  return 0;
}

}  // namespace

int run_authorize(int argc, char** argv);  // authorize_mode.cpp

namespace {

// master <deploy.conf> [--port N] [--fragment-size N] [--default-port N]
// [--server a.b.c.d:port[:flags]]...: serves the ranked list of the servers
// given, signed and enciphered with the deployment's keys, printing each
// datagram received.
int run_master(int argc, char** argv) {
  if (argc < 1) return 2;
  service::deploy_values values;
  std::string error;
  service::ranked_keys keys;
  if (!service::read_deploy_file(argv[0], values, error) || !service::read_ranked_keys(values, keys)) {
    std::fprintf(stderr, "ostrel-service: %s\n",
                 error.empty() ? "no ranked_key_chain, ranked_mac_chain or ranked_feedback" : error.c_str());
    return 1;
  }
  long port = service::master_server_port, fragment = 1400, default_port = 29900;
  std::vector<service::ranked_server> servers;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return 2;
    if (arg == "--port") {
      port = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--fragment-size") {
      fragment = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--default-port") {
      default_port = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--server") {
      std::string text = argv[++i];
      service::ranked_server server;
      unsigned a, b, c, d, p = 0, flags = 1;
      char tail = 0;
      int got = std::sscanf(text.c_str(), "%u.%u.%u.%u:%u:%u%c", &a, &b, &c, &d, &p, &flags, &tail);
      if (got < 5 || got > 6 || a > 255 || b > 255 || c > 255 || d > 255 || p > 65535 || flags > 63)
        return 2;
      const uint8_t bytes[4] = {static_cast<uint8_t>(a), static_cast<uint8_t>(b),
                                static_cast<uint8_t>(c), static_cast<uint8_t>(d)};
      std::memcpy(&server.address, bytes, 4);
      server.port = static_cast<uint16_t>(p);
      server.flags = static_cast<uint8_t>(flags);
      servers.push_back(server);
    } else {
      return 2;
    }
  }
  if (port <= 0 || port > 65535 || fragment <= 0 || fragment > 1488 || default_port < 0 ||
      default_port > 65535)
    return 2;
  service::master_server master(keys, static_cast<uint16_t>(port));
  master.set_servers(servers, static_cast<uint16_t>(default_port));
  master.set_fragment_size(static_cast<size_t>(fragment));
  if (!master.start()) {
    std::fprintf(stderr, "ostrel-service: master: cannot bind 127.0.0.1:%ld\n", port);
    return 1;
  }
  std::fprintf(stderr, "master server listening on 127.0.0.1:%u with %zu servers; Ctrl-C ends it\n",
               master.port(), servers.size());
  size_t shown = 0;
  while (!interrupted) {
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    const auto seen = master.received();
    for (; shown < seen.size(); ++shown) {
      const auto& d = seen[shown];
      char from[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &d.from_address, from, sizeof from);
      const char* what = d.what == service::master_datagram::kind::availability ? "availability query"
                         : d.what == service::master_datagram::kind::list_request
                             ? (d.digest_ok ? "list request" : "list request with a bad digest")
                         : d.what == service::master_datagram::kind::acknowledgement ? "acknowledgement"
                                                                                    : "unknown datagram";
      std::printf("%s from %s:%u (%zu bytes) session 0x%08X mask 0x%08X\n", what, from, d.from_port,
                  d.data.size(), d.session, d.mask);
    }
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  master.stop();
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
    {"lookup", "lookup <deploy.conf> [--port N] [--map name=a.b.c.d]...", run_lookup},
    {"stats", "stats <deploy.conf> [--provider ID]... [--flags N] [--http-port N] [--session-port N] "
     "[--refuse-data TEXT --refuse-status N] [--keep-alive | --never-read]",
     run_stats},
    {"authorize",
     "authorize <deploy.conf> --challenge TEXT (--exe FILE | --exe-md5 HEX) --provider-id ID... "
     "--mod DIR... [--flags N] [--command TEXT] [--salt HEX]",
     run_authorize},
    {"master",
     "master <deploy.conf> [--port N] [--fragment-size N] [--default-port N] "
     "[--server a.b.c.d:port[:flags]]...",
     run_master},
};

int usage() {
  std::fprintf(stderr, "usage:\n");
  for (const mode& m : modes) std::fprintf(stderr, "  ostrel-service %s\n", m.usage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
    return usage();
  for (const mode& m : modes) {
    if (std::strcmp(argv[1], m.name) != 0) continue;
    int rc = m.run(argc - 2, argv + 2);
    return rc == 2 ? usage() : rc;
  }
  // Earlier releases took the deployment file as the only argument.
  return run_deploy(argc - 1, argv + 1);
}
