// The reference statistics web server.  Well-behaved answers (and the 500) come
// from cpp-httplib; the replies no HTTP library would send (no line end, none
// at all, a byte at a time) come from a small accept loop of its own, which
// reads each request whole first so that the client's send completes.
#include "service/stats_http_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace service {
namespace {

constexpr size_t max_body = 16u << 20;
constexpr int raw_read_deadline_ms = 3000;

bool parse_length(const std::string& text, size_t& out) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = std::stoul(text);
  return true;
}

// Bytes of a raw request read so far are whole once the blank line has come
// and, after it, as many bytes as Content-Length says.
bool request_complete(const std::string& raw) {
  const size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  size_t length = 0;
  const std::string head = raw.substr(0, end);
  const size_t at = head.find("Content-Length: ");
  if (at != std::string::npos) {
    const size_t value = at + 16;
    parse_length(head.substr(value, head.find("\r\n", value) - value), length);
  }
  return raw.size() >= end + 4 + length;
}

}  // namespace

stats_http_server::stats_http_server(const stats_keys& keys, uint16_t port, std::string address)
    : keys_(keys), port_(port), address_(std::move(address)) {}

stats_http_server::~stats_http_server() { stop(); }

void stats_http_server::add_provider(const std::string& provider_id) {
  std::lock_guard<std::mutex> hold(mutex_);
  providers_.push_back(provider_id);
}

void stats_http_server::on_snapshot(std::function<void(const snapshot_seen&)> callback) {
  callback_ = std::move(callback);
}

bool stats_http_server::start(std::string* error) {
  std::lock_guard<std::mutex> hold(control_);
  if (started_) return true;
  started_ = true;
  return start_locked(error);
}

void stats_http_server::stop() {
  std::lock_guard<std::mutex> hold(control_);
  stop_locked();
  started_ = false;
}

bool stats_http_server::set_fault(fault f) {
  std::lock_guard<std::mutex> hold(control_);
  if (f == fault_) return true;
  stop_locked();
  fault_ = f;
  return started_ ? start_locked(nullptr) : true;
}

bool stats_http_server::start_locked(std::string* error) {
  stopping_ = false;
  if (fault_ == fault::none || fault_ == fault::answer_500) {
    http_ = std::make_unique<httplib::Server>();
    http_->set_payload_max_length(max_body);
    http_->set_keep_alive_max_count(1);
    http_->set_read_timeout(5, 0);
    // SO_REUSEADDR (the library's default is SO_REUSEPORT): a restart must
    // bind over the last run's TIME_WAIT connections, and must not share the
    // port with another live server.
    http_->set_socket_options([](int s) {
      int one = 1;
      ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    });
    int bound = port_;
    if (port_ == 0)
      bound = http_->bind_to_any_port(address_);
    else if (!http_->bind_to_port(address_, port_))
      bound = -1;
    if (bound <= 0) {
      if (error) *error = "cannot bind " + address_ + ":" + std::to_string(port_);
      http_.reset();
      return false;
    }
    port_ = static_cast<uint16_t>(bound);
    const bool answer_500 = fault_ == fault::answer_500;
    http_->Post("/ASP/sendsnapshot.aspx",
                [this, answer_500](const httplib::Request& req, httplib::Response& res) {
                  ++connections_;
                  if (answer_500) {
                    res.status = 500;
                    res.set_content("Internal Server Error", "text/plain");
                    return;
                  }
                  serve_request(req, res);
                });
    thread_ = std::thread([this] { http_->listen_after_bind(); });
    // A stop before the listener runs would be lost and the join would wait
    // for ever: hand back only a running server.
    for (int i = 0; i < 500 && !http_->is_running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return true;
  }
  raw_socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(raw_socket_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (fault_ == fault::never_read) {
    // A small window, inherited by accepted connections: a sender fills it soon.
    int small = 4096;
    ::setsockopt(raw_socket_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port_);
  // Refusing, the port stays bound but nothing listens: connections are
  // refused, and no other program can take the port in the meantime.
  const bool listening = fault_ != fault::refuse;
  socklen_t length = sizeof sa;
  if (raw_socket_ < 0 || inet_pton(AF_INET, address_.c_str(), &sa.sin_addr) != 1 ||
      ::bind(raw_socket_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      (listening && ::listen(raw_socket_, 8) != 0) ||
      ::getsockname(raw_socket_, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
    if (error) *error = "cannot bind " + address_ + ":" + std::to_string(port_);
    if (raw_socket_ >= 0) ::close(raw_socket_);
    raw_socket_ = -1;
    return false;
  }
  port_ = ntohs(sa.sin_port);
  if (!listening) return true;
  thread_ = std::thread([this] { serve_raw(); });
  return true;
}

void stats_http_server::stop_locked() {
  stopping_ = true;
  if (http_) http_->stop();
  if (thread_.joinable()) thread_.join();
  http_.reset();
  if (raw_socket_ >= 0) ::close(raw_socket_);
  raw_socket_ = -1;
}

void stats_http_server::serve_request(const httplib::Request& req, httplib::Response& res) {
  in_addr from{};
  inet_pton(AF_INET, req.remote_addr.c_str(), &from);
  std::string text;
  res.status = judge(req.body, req.get_header_value("Content-Length"),
                     req.get_header_value("X-Ostrel-tsdata"), from.s_addr, text);
  res.set_content(text, "text/plain");
}

int stats_http_server::judge(const std::string& body, const std::string& content_length,
                             const std::string& tsdata, uint32_t from_address, std::string& text) {
  snapshot_seen seen;
  std::string why;
  size_t declared = 0;
  seen.from_address = from_address;
  std::vector<std::string> providers;
  std::string refused_data;
  int refused_status = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    providers = providers_;
    refused_data = refused_data_;
    refused_status = refused_status_;
  }
  bool ok = false;
  if (!parse_length(content_length, declared) || declared != body.size())
    why = "Content-Length does not match the body";
  else if (body.size() < 6 || body.compare(0, 6, "HSNAP1") != 0)
    why = "body does not start with HSNAP1";
  else
    ok = decode_snapshot_body(keys_, reinterpret_cast<const uint8_t*>(body.data()) + 6,
                              body.size() - 6, providers, seen, why) &&
         decode_tsdata(keys_, tsdata, seen, why);
  int status = 400;
  if (ok && refused_status != 0 && std::string(seen.data.begin(), seen.data.end()) == refused_data) {
    ok = false;
    status = refused_status;
    why = "refused by the refuse-data switch";
  }
  if (!ok) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      rejections_.push_back(why);
    }
    text = why;
    return status;
  }
  if (callback_) callback_(seen);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    snapshots_.push_back(std::move(seen));
  }
  arrived_.notify_all();
  text = "OK";
  return 200;
}

void stats_http_server::refuse_data(const std::string& data, int status) {
  std::lock_guard<std::mutex> hold(mutex_);
  refused_data_ = data;
  refused_status_ = status;
}

size_t stats_http_server::accepted() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return snapshots_.size();
}

void stats_http_server::serve_raw() {
  while (!stopping_) {
    pollfd p{raw_socket_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int client = ::accept4(raw_socket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++connections_;
    handle_raw(client);
    ::close(client);
  }
}

// Holds a connection open without reading until the peer closes it or the
// server stops (what arrives meanwhile is drained only when read is true).
void hold_open(int client, const std::atomic<bool>& stopping, bool read) {
  char buffer[4096];
  while (!stopping) {
    pollfd p{client, static_cast<short>(read ? POLLIN : POLLRDHUP), 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    if (!read) {
      if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) break;
      continue;
    }
    if (::recv(client, buffer, sizeof buffer, 0) <= 0) break;
  }
}

int stats_http_server::judge_raw(int client, const std::string& raw, std::string& text) {
  if (!request_complete(raw)) {
    text = "no whole request";
    return 400;
  }
  const size_t end = raw.find("\r\n\r\n");
  const std::string head = raw.substr(0, end + 2);
  const auto header = [&](const std::string& name) {
    const size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return std::string();
    const size_t value = at + 4 + name.size();
    return head.substr(value, head.find("\r\n", value) - value);
  };
  sockaddr_in peer{};
  socklen_t peer_length = sizeof peer;
  ::getpeername(client, reinterpret_cast<sockaddr*>(&peer), &peer_length);
  return judge(raw.substr(end + 4), header("Content-Length"), header("X-Ostrel-tsdata"),
               peer.sin_addr.s_addr, text);
}

void stats_http_server::handle_raw(int client) {
  if (fault_ == fault::never_read) {
    hold_open(client, stopping_, false);
    return;
  }
  std::string raw;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(raw_read_deadline_ms);
  char buffer[8192];
  while (!stopping_ && !request_complete(raw) && raw.size() < max_body &&
         std::chrono::steady_clock::now() < deadline) {
    pollfd p{client, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    raw.append(buffer, static_cast<size_t>(n));
  }
  {
    std::lock_guard<std::mutex> hold(mutex_);
    raw_requests_.push_back(raw);
  }
  arrived_.notify_all();

  if (fault_ == fault::no_newline) {
    static const char reply[] = "HTTP/1.1 200 OK";
    ::send(client, reply, sizeof reply - 1, MSG_NOSIGNAL);
  } else if (fault_ == fault::silent) {
    while (!stopping_) {
      pollfd p{client, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0 && ::recv(client, buffer, sizeof buffer, 0) <= 0) break;
    }
  } else if (fault_ == fault::keep_alive) {
    std::string text;
    const int status = judge_raw(client, raw, text);
    const std::string reply = "HTTP/1.1 " + std::to_string(status) +
                              (status == 200 ? " OK" : " Refused") +
                              "\r\nContent-Type: text/plain\r\nContent-Length: " +
                              std::to_string(text.size()) + "\r\nConnection: keep-alive\r\n\r\n" + text;
    if (::send(client, reply.data(), reply.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(reply.size()) &&
        status == 200)
      ++unconfirmed_;
    hold_open(client, stopping_, true);
  } else if (fault_ == fault::status) {
    const std::string reply = "HTTP/1.1 " + std::to_string(status_.load()) +
                              " Not Now\r\nContent-Type: text/plain\r\nContent-Length: 0\r\n"
                              "Connection: close\r\n\r\n";
    ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
  } else if (fault_ == fault::reset) {
    linger abortive{1, 0};  // close sends RST rather than FIN
    ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  } else if (fault_ == fault::slow) {
    // Judged like any upload, so that what it accepts is on record: a slow
    // 200 is a delivery.
    std::string text;
    const int status = judge_raw(client, raw, text);
    const std::string reply = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Refused") +
                              "\r\nContent-Type: text/plain\r\nContent-Length: " +
                              std::to_string(text.size()) + "\r\nConnection: close\r\n\r\n" + text;
    size_t sent = 0;
    for (; sent < reply.size() && !stopping_; ++sent) {
      if (::send(client, reply.data() + sent, 1, MSG_NOSIGNAL) != 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(slow_byte_ms_.load()));
    }
    // The library gave up on the reply (its deadline) after the upload was
    // taken: it cannot know, and will send the snapshot again or drop it.
    if (sent < reply.size() && status == 200) ++unconfirmed_;
  }
}

std::vector<snapshot_seen> stats_http_server::snapshots() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return snapshots_;
}

std::vector<std::string> stats_http_server::rejections() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return rejections_;
}

std::vector<std::string> stats_http_server::raw_requests() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return raw_requests_;
}

bool stats_http_server::wait_for_snapshots(size_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> hold(mutex_);
  return arrived_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                           [&] { return snapshots_.size() >= count; });
}

void stats_http_server::clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  snapshots_.clear();
  rejections_.clear();
  raw_requests_.clear();
  connections_ = 0;
  unconfirmed_ = 0;
}

}  // namespace service
