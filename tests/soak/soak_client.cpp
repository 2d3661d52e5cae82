// The client load.  Every query goes out on one of a few sockets that stay
// open for the whole run: the library corrects answers while the game has a
// query socket, and one closed by another thread between a query and its
// answer would make a right answer look wrong.  The churn opens and closes
// other sockets.  The ranked list changes only through refreshes the load
// itself asks for, so every answer has one right form.
#include "soak_client.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "deploy_values.h"
#include "game_peers.h"
#include "loopback_peer.h"
#include "service/master_server.h"
#include "soak_answers.h"
#include "wine_host.h"

namespace soak {
namespace {

using clock_type = std::chrono::steady_clock;
using e2e::words;

constexpr int query_sockets = 6;
constexpr int lookups_per_batch = 3;
constexpr int refresh_every_s = 65;  // the library refreshes at most once a minute
constexpr int sample_every_s = 10;

struct peer {
  std::unique_ptr<e2e::game_server_peer> server;
  std::vector<uint8_t> answer;
  std::string kind;
  int role = 0;  // 0 always listed, 1 never, 2 listed in odd generations
};

uint32_t loopback() { return htonl(INADDR_LOOPBACK); }

std::string address_text(uint32_t network_order) {
  char text[INET_ADDRSTRLEN];
  in_addr a{network_order};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> split_answers(const std::string& line) {
  std::vector<std::string> out;
  if (line.rfind("ok ", 0) != 0) return out;
  size_t start = 3;
  for (;;) {
    const size_t end = line.find(" ;; ", start);
    out.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 4;
  }
  return out;
}

class client_load {
 public:
  client_load(double seconds, service::lookup_service& lookup) : seconds_(seconds), lookup_(lookup) {}
  client_report run();

 private:
  bool prepare();
  void change_names();
  void refresh();
  bool batch();
  void sample();
  void check_query(const std::string& answer);
  void check_lookup(const std::string& name, const std::string& answer);
  void note_wrong(const std::string& what) {
    if (report_.wrong.size() < 20) report_.wrong.push_back(what);
  }
  double elapsed() const {
    return std::chrono::duration<double>(clock_type::now() - started_).count();
  }

  double seconds_;
  service::lookup_service& lookup_;
  client_report report_;
  std::vector<peer> peers_;
  std::map<uint16_t, size_t> peer_of_port_;
  std::unique_ptr<service::master_server> master_;
  e2e::tcp_listener moved_;
  std::thread acceptor_;
  std::atomic<bool> stopping_{false};
  e2e::hostsim client_;
  std::vector<std::string> sockets_;
  std::string ranked_file_;
  std::string ordinary_answer_;  // "localhost" as the plain copy resolves it
  std::map<std::string, std::set<std::string>> name_answers_;  // every address a name has had
  std::vector<std::string> names_;  // the table's names, and "localhost" from the real resolver
  std::set<uint16_t> listed_;  // the list the library has installed
  int generation_ = 0;
  std::mt19937 random_{20261211};
  clock_type::time_point started_;
};

bool client_load::prepare() {
  e2e::hostsim plain;
  if (!plain.start(e2e::plain_dir())) return report_.failure = "the plain hostsim did not start", false;
  const std::string roaming = plain.command("appdata");
  if (roaming.rfind("ok ", 0) != 0) return report_.failure = "appdata: " + roaming, false;
  ranked_file_ = e2e::unix_path(roaming.substr(3) + "\\Ostrel\\rankedservers");
  std::filesystem::remove(ranked_file_);
  // Look-up caches of earlier runs would answer with addresses this run never gave.
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(e2e::unix_path(roaming.substr(3) + "\\Ostrel"), ec))
    if (entry.path().filename().string().rfind("network_", 0) == 0) std::filesystem::remove(entry.path(), ec);
  plain.command("reg_delete hkcu client_opmode");
  if (plain.command("reg_set hkcu dword serverBrowserMode 1") != "ok")
    return report_.failure = "serverBrowserMode could not be set", false;
  ordinary_answer_ = plain.command("resolve localhost");
  plain.stop();
  if (ordinary_answer_.rfind("ok ", 0) != 0) return report_.failure = "localhost: " + ordinary_answer_, false;

  for (const answer_kind& kind : answer_kinds())
    for (int role = 0; role < 3; ++role) {
      peer p{std::make_unique<e2e::game_server_peer>(), kind.answer, kind.name, role};
      if (!p.server->start(kind.answer)) return report_.failure = "a game server peer did not start", false;
      peer_of_port_[p.server->port()] = peers_.size();
      peers_.push_back(std::move(p));
    }

  // The retired service's own names, as the reference service maps them for
  // the server copy too; they never change.
  for (const char* name : {deploy::master_host, deploy::retired_stats_host, deploy::retired_snapshot_host}) {
    lookup_.map_name(name, {loopback()});
    name_answers_[name].insert(address_text(loopback()));
    names_.push_back(name);
  }
  change_names();
  master_ = std::make_unique<service::master_server>(
      service::make_ranked_keys(deploy::ranked_key_chain, deploy::ranked_mac_chain, deploy::ranked_feedback),
      27900);
  master_->set_fragment_size(64);
  if (!master_->start()) return report_.failure = "127.0.0.1:27900 is taken", false;
  if (!moved_.open(28911)) return report_.failure = "127.0.0.1:28911 is taken", false;
  acceptor_ = std::thread([this] {
    while (!stopping_) {
      const int fd = moved_.accept_one(200);
      if (fd >= 0) ::close(fd);
    }
  });

  report_.log_folder = e2e::client_dir() + "/logs/ostrel";
  std::filesystem::remove_all(report_.log_folder, ec);
  std::filesystem::create_directories(report_.log_folder, ec);
  if (!client_.start(e2e::client_dir())) return report_.failure = "the client hostsim did not start", false;
  started_ = clock_type::now();
  for (int i = 0; i < query_sockets; ++i) {
    const std::vector<std::string> w = words(client_.command("udp 0"));
    if (w.size() != 3 || w[0] != "ok") return report_.failure = "a query socket could not be opened", false;
    sockets_.push_back(w[1]);
  }
  return true;
}

// Six names of the table get new addresses each generation; a client that
// has not fetched the table again answers with an older one, which is as
// right as the newest.
void client_load::change_names() {
  for (int i = 0; i < 6; ++i) {
    const std::string name = "soak-" + std::to_string(i) + ".legacy.test";
    const uint32_t address = htonl((10u << 24) | (99u << 16) | (static_cast<uint32_t>(generation_ % 250) << 8) |
                                   static_cast<uint32_t>(i + 1));
    lookup_.map_name(name, {address});
    if (name_answers_[name].empty()) names_.push_back(name);
    name_answers_[name].insert(address_text(address));
  }
}

void client_load::refresh() {
  ++generation_;
  change_names();
  std::vector<service::ranked_server> servers;
  std::set<uint16_t> listed;
  for (const peer& p : peers_)
    if (p.role == 0 || (p.role == 2 && generation_ % 2 == 1)) {
      servers.push_back({loopback(), p.server->port(), 1});
      listed.insert(p.server->port());
    }
  master_->set_servers(servers, 29900);
  const int requests = master_->count(service::master_datagram::kind::list_request);
  const std::string reached = client_.command("connect_once 127.0.0.1 28910", 30000);
  if (reached != "ok 28911") note_wrong("the server-list connection: " + reached);
  const std::vector<uint8_t> file = read_file(ranked_file_);
  const std::vector<uint8_t> blob = master_->last_blob();
  const bool fetched = master_->count(service::master_datagram::kind::list_request) > requests &&
                       file.size() == blob.size() + 8 &&
                       std::equal(blob.begin(), blob.end(), file.begin() + 8);
  if (fetched) {
    ++report_.refreshes;
    listed_ = listed;
  } else {
    ++report_.refreshes_failed;  // the list the library has stays the one before
  }
}

void client_load::check_query(const std::string& answer) {
  ++report_.queries;
  if (answer == "err timeout") {
    ++report_.queries_unanswered;
    return;
  }
  const std::vector<std::string> w = words(answer);
  const auto found = w.size() == 4 ? peer_of_port_.find(static_cast<uint16_t>(std::stoi(w[2])))
                                   : peer_of_port_.end();
  if (w.size() != 4 || w[0] != "ok" || w[1] != "127.0.0.1" || found == peer_of_port_.end()) {
    ++report_.queries_wrong;
    note_wrong("query: " + answer.substr(0, 200));
    return;
  }
  const peer& p = peers_[found->second];
  const std::string expected = e2e::to_hex(corrected(p.answer, listed_.count(found->first) > 0));
  if (w[3] != expected) {
    ++report_.queries_wrong;
    note_wrong("query (" + p.kind + ", " + (listed_.count(found->first) ? "listed" : "unlisted") +
               "): got " + w[3].substr(0, 300) + " expected " + expected.substr(0, 300));
  }
}

void client_load::check_lookup(const std::string& name, const std::string& answer) {
  ++report_.lookups;
  bool right = false;
  if (name == "localhost") {
    right = answer == ordinary_answer_;
  } else {
    for (const std::string& address : name_answers_[name])
      right = right || answer == "ok name=" + name + " type=2 len=4 addrs=" + address + " aliases=";
  }
  if (!right) {
    ++report_.lookups_wrong;
    note_wrong("look-up " + name + ": " + answer);
  }
}

bool client_load::batch() {
  std::string line = "par";
  std::vector<std::string> names;
  for (const std::string& s : sockets_) {
    const peer& p = peers_[random_() % peers_.size()];
    line += " query " + s + " 127.0.0.1 " + std::to_string(p.server->port()) + " 5000 ;;";
  }
  for (int i = 0; i < lookups_per_batch; ++i) {
    const size_t pick = random_() % (names_.size() + 1);
    names.push_back(pick == names_.size() ? "localhost" : names_[pick]);
    line += " resolve " + names.back() + " ;;";
  }
  line += " churn 4";
  const std::string answer = client_.command(line, 120000);
  const std::vector<std::string> answers = split_answers(answer);
  if (answers.size() != sockets_.size() + names.size() + 1) {
    report_.failure = "a batch was not answered: " + answer.substr(0, 200);
    return false;
  }
  ++report_.batches;
  report_.threads += static_cast<long>(answers.size());
  for (size_t i = 0; i < sockets_.size(); ++i) check_query(answers[i]);
  for (size_t i = 0; i < names.size(); ++i) check_lookup(names[i], answers[sockets_.size() + i]);
  if (answers.back() != "ok") note_wrong("churn: " + answers.back());
  return true;
}

void client_load::sample() {
  soak::sample s;
  const std::string line = client_.command("resources");
  if (parse_sample(line, elapsed(), s))
    report_.samples.push_back(s);
  else
    note_wrong("resources: " + line);
}

client_report client_load::run() {
  if (prepare()) {
    refresh();  // the list before any query: with none, every answer would be corrected
    double next_sample = 0, next_refresh = refresh_every_s;
    while (elapsed() < seconds_) {
      if (elapsed() >= next_sample) {
        sample();
        next_sample += sample_every_s;
      }
      if (elapsed() >= next_refresh) {
        refresh();
        next_refresh += refresh_every_s;
      }
      if (!batch()) break;
    }
    sample();
    client_.stop();
  }
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  for (peer& p : peers_) p.server->stop();
  if (master_) master_->stop();
  return report_;
}

}  // namespace

client_report run_client(double seconds, service::lookup_service& lookup) {
  client_load load(seconds, lookup);
  return load.run();
}

}  // namespace soak
