// The reference session responder: one UDP socket and one thread, and a second
// socket on 127.0.0.2 for replies from an address the library did not ask.
#include "service/session_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>

#include "loopback_udp.h"

namespace service {

session_responder::session_responder(const stats_keys& keys, uint16_t port, std::string address)
    : keys_(keys), address_(std::move(address)), port_(port) {}

session_responder::~session_responder() { stop(); }

bool session_responder::start(std::string* error) {
  if (socket_ >= 0) return true;
  socket_ = bind_udp(address_, port_, &port_);
  if (socket_ < 0) {
    if (error) *error = "cannot bind " + address_ + ":" + std::to_string(port_);
    return false;
  }
  other_socket_ = bind_udp("127.0.0.2", 0, nullptr);
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void session_responder::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (socket_ >= 0) ::close(socket_);
  if (other_socket_ >= 0) ::close(other_socket_);
  socket_ = other_socket_ = -1;
}

void session_responder::add_provider(const std::string& provider_id) {
  std::lock_guard<std::mutex> hold(mutex_);
  providers_.push_back(provider_id);
}

void session_responder::on_request(
    std::function<void(const session_request_seen&, bool)> callback) {
  std::lock_guard<std::mutex> hold(mutex_);
  callback_ = std::move(callback);
}

std::vector<session_request_seen> session_responder::exchanges() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return exchanges_;
}

void session_responder::clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  exchanges_.clear();
  requests_ = 0;
}

void session_responder::run() {
  uint8_t buffer[2048];
  while (!stopping_) {
    pollfd p{socket_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    const ssize_t n = ::recvfrom(socket_, buffer, sizeof buffer, 0,
                                 reinterpret_cast<sockaddr*>(&from), &from_length);
    if (n < 0) continue;
    ++requests_;
    session_request_seen request;
    std::vector<std::string> providers;
    std::function<void(const session_request_seen&, bool)> callback;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      providers = providers_;
      callback = callback_;
    }
    const bool ok = decode_session_request(keys_, buffer, static_cast<size_t>(n), providers, request);
    request.from_address = from.sin_addr.s_addr;
    request.from_port = ntohs(from.sin_port);
    const fault f = fault_.load();
    if (ok) {
      {
        std::lock_guard<std::mutex> hold(mutex_);
        exchanges_.push_back(request);
      }
      session_reply_options options;
      options.session_flags = flags_.load();
      options.service_time = service_time_.load();
      if (options.service_time == 0) options.service_time = static_cast<uint32_t>(::time(nullptr));
      options.digest_without_r = f == fault::digest_without_r;
      options.query_port_delta = f == fault::wrong_port ? 1 : 0;
      std::vector<uint8_t> reply = build_session_reply(keys_, request, options);
      const uint32_t to = request.from_address;
      const uint16_t port = request.from_port;
      if (f == fault::wrong_length) {
        send_datagram(socket_, std::vector<uint8_t>(reply.begin(), reply.end() - 1), to, port);
        reply.push_back(0);
        send_datagram(socket_, reply, to, port);
      } else if (f == fault::other_sender) {
        if (other_socket_ >= 0) send_datagram(other_socket_, reply, to, port);
      } else if (f != fault::silence) {
        send_datagram(socket_, reply, to, port);
      }
    }
    if (callback) callback(request, ok);
  }
}

}  // namespace service
